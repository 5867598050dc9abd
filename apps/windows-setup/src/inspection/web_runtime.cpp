#include "inspection/web_runtime.hpp"

#include <cwchar>
#include <vector>

#include "common/command_line.hpp"
#include "common/installer_api.hpp"
#include "common/path.hpp"
#include "common/process.hpp"
#include "common/run_log.hpp"
#include "common/unicode.hpp"
#include "common/win32.hpp"
#include "inspection/installer_database.hpp"
#include "inspection/package_rules.hpp"
#include "inspection/web_runtime_core.hpp"
#include "staging/staging.hpp"

namespace mirel {
namespace {

std::u16string_view as_utf16(const wchar_t* text, std::size_t size) {
    return {reinterpret_cast<const char16_t*>(text), size};
}

// Copies the record's stream into a new file of the staging directory, which holds the file
// protected, and compares it with what was read.
Status extract_runtime(MSIHANDLE record, StagingDirectory& staging) {
    std::vector<std::byte> copy;
    {
        // Created like a staged package: new, never through a reparse point, writable by us alone.
        auto created = create_staged_file(staging, RUNTIME_FILE_NAME);
        if (!created) return fail(ErrorCode::InstallerRuntimePayload);
        // Held by the staging directory while it is written: the copy allocates as it goes, and a
        // run that has to end at once closes the file before it deletes it.
        const HANDLE file = staging.hold_writer(std::move(*created));
        const ChunkReader read = [&](std::span<std::byte> buffer) -> std::optional<std::size_t> {
            DWORD count = static_cast<DWORD>(buffer.size());
            if (os::MsiRecordReadStream(record, 1, reinterpret_cast<char*>(buffer.data()), &count) != ERROR_SUCCESS) {
                return std::nullopt;
            }
            return count;
        };
        const ChunkWriter write = [&](std::span<const std::byte> bytes) { return write_all(file, bytes); };
        const auto flush = [&] { return os::FlushFileBuffers(file) != FALSE; };
        ASSIGN_OR_RETURN(copy, copy_runtime_stream(read, write, flush));
        staging.close_writer();
    }

    auto protected_file = protect_file(staging, RUNTIME_FILE_NAME);
    if (!protected_file) return fail(ErrorCode::InstallerRuntimePayload);
    // Held by the staging directory before it is compared (which allocates): its clean-up, also
    // that of a run that has to end at once, releases the file before it deletes it.
    staging.hold_file(std::move(*protected_file));
    const HANDLE file = staging.held_files().back().file();
    const std::optional<FileFacts> facts = file_facts(file);
    if (!facts || facts->size != copy.size() || compare_file_with(file, copy, RUNTIME_CHUNK_SIZE) != ReadBack::Same) {
        return fail(ErrorCode::InstallerRuntimePayload);
    }
    return {};
}

// This process's environment with the verifier's module path set: the verifier loads its
// signature command from the system's own modules only, not from anything the user added.
std::u16string verifier_environment(std::string_view module_directory) {
    std::vector<std::u16string> entries;
    if (wchar_t* inherited = os::GetEnvironmentStringsW()) {
        const wchar_t* end = inherited;
        while (*end != L'\0') end += std::wcslen(end) + 1;
        entries = environment_entries(as_utf16(inherited, static_cast<std::size_t>(end - inherited)));
        os::FreeEnvironmentStringsW(inherited);
    }
    return environment_block_with(entries, utf8_to_utf16(VERIFIER_MODULE_VARIABLE), utf8_to_utf16(module_directory));
}

// A console program's output as UTF-8: it is UTF-8 already, or in the console's OEM code page, which
// is what PowerShell writes into a pipe.
std::string console_text(const std::string& bytes) {
    if (is_valid_utf8(bytes)) return bytes;
    const int units = os::MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (units <= 0) return bytes;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    os::MultiByteToWideChar(CP_OEMCP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), units);
    return from_wide(wide);
}

// Success only when the system's verifier ran on the file and ended with exit code 0.
Status verify_signature(const std::string& file_path) {
    const std::optional<std::wstring> directory = system_directory();
    if (!directory || !is_valid_utf16(as_utf16(directory->data(), directory->size())))
        return fail(ErrorCode::InstallerRuntimeSignature);
    ASSIGN_OR_RETURN(const VerifierLocations verifier, verifier_locations(from_wide(*directory)));
    const auto command = build_command_line(verifier.program, verifier_arguments(file_path));
    if (!command) return fail(ErrorCode::InstallerRuntimeSignature);

    const std::u16string environment = verifier_environment(verifier.module_directory);
    ChildStart child;
    child.program = file_system_path(verifier.program);
    child.command_line = to_wide(*command);
    child.environment = reinterpret_cast<const wchar_t*>(environment.c_str());
    child.current_directory = *directory;
    child.flags = CREATE_NO_WINDOW;
    // No handle of ours is inherited, not even the standard ones: the verifier needs none, and
    // whatever it might print must not reach a validation run's standard error, which carries
    // the failure text alone.
    child.pass_standard_handles = false;
    // With a run log, what it says goes there (through a pipe of its own, never to this process's
    // standard error).
    std::string output;
    if (run_log_enabled()) child.output = &output;
    log_event("verifier", {"starting ", verifier.program, " with the command line ", LogPart::outside(*command)});
    const ULONGLONG started = os::GetTickCount64();
    const Result<std::uint32_t> exit_code = run_child_and_wait(child);
    log_event("verifier", {exit_code ? "exit code " : "could not be run: ",
                           exit_code ? LogPart(*exit_code) : LogPart::error(exit_code.error()), " after ",
                           os::GetTickCount64() - started, " ms",
                           !exit_code       ? ""
                           : output.empty() ? ", no output"
                                            : ", output: ",
                           LogPart::outside(run_log_enabled() ? console_text(output) : std::string())});
    // A verifier that could not be started keeps the system's reason behind the code.
    if (!exit_code) return fail(ErrorCode::InstallerRuntimeSignature, exit_code.error().os_error());
    if (*exit_code != 0) return fail(ErrorCode::InstallerRuntimeSignature);
    return {};
}

}  // namespace

Status check_web_runtime(std::string_view package_path) {
    RETURN_IF_ERROR(check_download_ban(installer_package_queries(), package_path));

    // Closes its record, view and database when the check ends, after the staged file is gone.
    auto query = InstallerQuery::open(package_path, RUNTIME_BINARY_QUERY);
    if (!query || query->fetch() != InstallerQuery::Fetch::Row) return fail(ErrorCode::InstallerRuntimePayload);

    ASSIGN_OR_RETURN(StagingDirectory staging, create_staging_directory());
    RETURN_IF_ERROR(extract_runtime(query->record(), staging));
    return verify_signature(join_path(staging.path(), RUNTIME_FILE_NAME));
}

}  // namespace mirel
