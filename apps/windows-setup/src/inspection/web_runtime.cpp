#include "inspection/web_runtime.hpp"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <limits>
#include <vector>

#include "common/command_line.hpp"
#include "common/path.hpp"
#include "common/unicode.hpp"
#include "inspection/installer_database.hpp"
#include "inspection/package_rules.hpp"
#include "inspection/web_runtime_core.hpp"
#include "staging/staging.hpp"

namespace mirel {
namespace {

constexpr DWORD SYSTEM_DIRECTORY_UNITS = 32768;

std::u16string_view as_utf16(const wchar_t* text, std::size_t size) {
    return {reinterpret_cast<const char16_t*>(text), size};
}

// The record of the carried installer's row, or nothing.
InstallerHandle fetch_runtime_record(std::string_view package_path, InstallerHandle& database, InstallerHandle& view) {
    const auto open_database = msi_function<decltype(::MsiOpenDatabaseW)>("MsiOpenDatabaseW");
    const auto open_view = msi_function<decltype(::MsiDatabaseOpenViewW)>("MsiDatabaseOpenViewW");
    const auto execute = msi_function<decltype(::MsiViewExecute)>("MsiViewExecute");
    const auto fetch = msi_function<decltype(::MsiViewFetch)>("MsiViewFetch");
    if (open_database == nullptr || open_view == nullptr || execute == nullptr || fetch == nullptr) return {};

    InstallerHandle record;
    if (open_database(to_wide(package_path).c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS ||
        open_view(database.get(), to_wide(RUNTIME_BINARY_QUERY).c_str(), view.put()) != ERROR_SUCCESS ||
        execute(view.get(), 0) != ERROR_SUCCESS || fetch(view.get(), record.put()) != ERROR_SUCCESS) {
        record.reset();
    }
    return record;
}

bool write_all(HANDLE file, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const DWORD request =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size(), std::numeric_limits<DWORD>::max()));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), request, &written, nullptr) || written == 0) return false;
        bytes = bytes.subspan(written);
    }
    return true;
}

ChunkReader file_reader(HANDLE file) {
    return [file](std::span<std::byte> buffer) -> std::optional<std::size_t> {
        DWORD count = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr)) return std::nullopt;
        return count;
    };
}

// Copies the record's stream into the new file `file_path` and returns the file protected and
// compared with what was read.
Result<ProtectedFile> extract_runtime(MSIHANDLE record, const std::string& file_path) {
    const auto read_stream = msi_function<decltype(::MsiRecordReadStream)>("MsiRecordReadStream");
    if (read_stream == nullptr) return fail(INSTALLER_RUNTIME_PAYLOAD);

    std::vector<std::byte> copy;
    {
        // Created like a staged package: new, never through a reparse point, writable by us alone.
        UniqueHandle file(::CreateFileW(file_system_path(file_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return fail(INSTALLER_RUNTIME_PAYLOAD);
        const ChunkReader read = [&](std::span<std::byte> buffer) -> std::optional<std::size_t> {
            DWORD count = static_cast<DWORD>(buffer.size());
            if (read_stream(record, 1, reinterpret_cast<char*>(buffer.data()), &count) != ERROR_SUCCESS) {
                return std::nullopt;
            }
            return count;
        };
        const ChunkWriter write = [&](std::span<const std::byte> bytes) { return write_all(file.get(), bytes); };
        const auto flush = [&] { return ::FlushFileBuffers(file.get()) != FALSE; };
        ASSIGN_OR_RETURN(copy, copy_runtime_stream(read, write, flush));
    }

    auto protected_file = protect_file(file_path);
    if (!protected_file) return fail(INSTALLER_RUNTIME_PAYLOAD);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(protected_file->file(), &information)) return fail(INSTALLER_RUNTIME_PAYLOAD);
    const std::uint64_t size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    if (size != copy.size()) return fail(INSTALLER_RUNTIME_PAYLOAD);
    RETURN_IF_ERROR(compare_read_back(file_reader(protected_file->file()), copy));
    return std::move(*protected_file);
}

Result<std::string> system_directory() {
    std::vector<wchar_t> buffer(SYSTEM_DIRECTORY_UNITS);
    const UINT units = ::GetSystemDirectoryW(buffer.data(), SYSTEM_DIRECTORY_UNITS);
    if (units == 0 || units >= SYSTEM_DIRECTORY_UNITS) return fail(INSTALLER_RUNTIME_SIGNATURE);
    const std::u16string_view directory = as_utf16(buffer.data(), units);
    if (!is_valid_utf16(directory)) return fail(INSTALLER_RUNTIME_SIGNATURE);
    return utf16_to_utf8(directory);
}

// This process's environment with the verifier's module path set: the verifier loads its
// signature command from the system's own modules only, not from anything the user added.
std::u16string verifier_environment(std::string_view module_directory) {
    std::vector<std::u16string> entries;
    if (wchar_t* inherited = ::GetEnvironmentStringsW()) {
        const wchar_t* end = inherited;
        while (*end != L'\0') end += std::wcslen(end) + 1;
        entries = environment_entries(as_utf16(inherited, static_cast<std::size_t>(end - inherited)));
        ::FreeEnvironmentStringsW(inherited);
    }
    return environment_block_with(entries, utf8_to_utf16(VERIFIER_MODULE_VARIABLE), utf8_to_utf16(module_directory));
}

// Success only when the system's verifier ran on the file and ended with exit code 0.
Status verify_signature(const std::string& file_path) {
    ASSIGN_OR_RETURN(const std::string directory, system_directory());
    ASSIGN_OR_RETURN(const VerifierLocations verifier, verifier_locations(directory));
    const auto command = build_command_line(verifier.program, verifier_arguments(file_path));
    if (!command) return fail(INSTALLER_RUNTIME_SIGNATURE);

    std::wstring command_line = to_wide(*command);
    std::u16string environment = verifier_environment(verifier.module_directory);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // No handle of ours is inherited: the verifier needs none, and the staged files' handles
    // must stay with this process alone.
    if (!::CreateProcessW(file_system_path(verifier.program).c_str(), command_line.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup,
                          &process)) {
        return fail(INSTALLER_RUNTIME_SIGNATURE);
    }
    const UniqueHandle process_handle(process.hProcess);
    const UniqueHandle thread_handle(process.hThread);
    if (::WaitForSingleObject(process_handle.get(), INFINITE) != WAIT_OBJECT_0)
        return fail(INSTALLER_RUNTIME_SIGNATURE);
    DWORD exit_code = 1;
    if (!::GetExitCodeProcess(process_handle.get(), &exit_code) || exit_code != 0) {
        return fail(INSTALLER_RUNTIME_SIGNATURE);
    }
    return {};
}

}  // namespace

Status check_web_runtime(std::string_view package_path) {
    RETURN_IF_ERROR(check_download_ban(installer_package_queries(), package_path));

    // Declared first so that they are closed last: record, view, then database.
    InstallerHandle database;
    InstallerHandle view;
    const InstallerHandle record = fetch_runtime_record(package_path, database, view);
    if (!record) return fail(INSTALLER_RUNTIME_PAYLOAD);

    ASSIGN_OR_RETURN(const StagingDirectory staging, create_staging_directory());
    const std::string file_path = join_path(staging.path(), RUNTIME_FILE_NAME);
    // Released before the staging directory is destroyed, so that the clean-up can delete it.
    ASSIGN_OR_RETURN(const ProtectedFile protected_file, extract_runtime(record.get(), file_path));
    return verify_signature(file_path);
}

}  // namespace mirel
