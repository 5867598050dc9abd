#include "install/engine.hpp"

#include <windows.h>

#include <msi.h>
#include <shellapi.h>

#include <array>
#include <optional>
#include <vector>

#include "common/path.hpp"
#include "common/win32.hpp"
#include "install/installer.hpp"

namespace mirel {
namespace {

constexpr const char* PROGRAM_NOT_FOUND = "program not found";
constexpr const char* INSTALL_LOCATION = "install_location";
constexpr const char* INSTALLED_APPLICATION = "installed_application";
constexpr std::string_view APPLICATION_FILE = "mirel-desktop.exe";
constexpr DWORD INSTALL_LOCATION_UNITS = 32768;

using DirectoryQuery = UINT(WINAPI*)(LPWSTR, UINT);

// GetSystemDirectoryW and GetWindowsDirectoryW: the length without the terminator when the
// buffer was large enough, else the size needed with it.
std::optional<std::string> query_directory(DirectoryQuery query) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) return from_wide(std::wstring_view(buffer.data(), length));
        buffer.resize(length);
    }
}

bool is_existing_file(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(file_system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Only the system and the Windows directory: the program's own folder (often a downloads folder),
// the current directory and PATH could each hold a planted "msiexec.exe" that would then run with
// whatever rights the installation is granted.
Result<std::string> locate_installer() {
    for (const DirectoryQuery query : {DirectoryQuery{&::GetSystemDirectoryW}, DirectoryQuery{&::GetWindowsDirectoryW}}) {
        const std::optional<std::string> directory = query_directory(query);
        if (!directory) continue;
        std::string candidate = join_path(*directory, INSTALLER_PROGRAM);
        if (is_existing_file(candidate)) return candidate;
    }
    return fail(PROGRAM_NOT_FOUND);
}

bool has_standard_handle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// True when the target of `path`, links followed, is something other than a directory.
bool is_application_file(const std::string& path) {
    const std::wstring wide_path = file_system_path(path);
    const UniqueHandle file(::CreateFileW(wide_path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD open_error = file ? ERROR_SUCCESS : ::GetLastError();
    if (file) {
        BY_HANDLE_FILE_INFORMATION information{};
        if (!::GetFileInformationByHandle(file.get(), &information)) return false;
        return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    // A file that the system itself holds (such as one being paged) refuses every open with
    // ERROR_CANT_ACCESS_FILE; its directory entry still tells what it is.
    if (open_error != ERROR_CANT_ACCESS_FILE) return false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wide_path.c_str(), GetFileExInfoStandard, &data)) return false;
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

Result<std::int32_t> run_installer_engine(std::string_view package_path, InstallMode mode) {
    ASSIGN_OR_RETURN(const std::string program, locate_installer());
    ASSIGN_OR_RETURN(const std::string command_line, installer_command_line(package_path, mode));
    const std::wstring application = to_wide(program);
    std::wstring mutable_command_line = to_wide(command_line);  // CreateProcessW may write into it

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    const std::array<HANDLE, 3> standard = {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE),
                                            ::GetStdHandle(STD_ERROR_HANDLE)};
    // A setup program started from the desktop has no standard handles; naming null ones would
    // give the engine nothing better than its own defaults.
    if (has_standard_handle(standard[0]) || has_standard_handle(standard[1]) || has_standard_handle(standard[2])) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = standard[0];
        startup.hStdOutput = standard[1];
        startup.hStdError = standard[2];
    }

    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(application.c_str(), mutable_command_line.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &started)) {
        return std::unexpected(os_error(::GetLastError()));
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);

    if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) {
        return std::unexpected(os_error(::GetLastError()));
    }
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process.get(), &exit_code)) return std::unexpected(os_error(::GetLastError()));
    return static_cast<std::int32_t>(exit_code);
}

Result<std::string> find_installed_application(std::string_view product_code) {
    // msi.dll is resolved from the system directory at run time, never imported.
    const auto get_product_info = system_function<decltype(::MsiGetProductInfoW)>(L"msi.dll", "MsiGetProductInfoW");
    if (get_product_info == nullptr) return fail(INSTALL_LOCATION);

    const std::wstring code = to_wide(product_code);
    const std::wstring property = to_wide("InstallLocation");
    std::vector<wchar_t> location(INSTALL_LOCATION_UNITS);
    DWORD size = INSTALL_LOCATION_UNITS;
    if (get_product_info(code.c_str(), property.c_str(), location.data(), &size) != ERROR_SUCCESS || size == 0 ||
        size >= INSTALL_LOCATION_UNITS) {
        return fail(INSTALL_LOCATION);
    }
    std::string path = join_path(from_wide(std::wstring_view(location.data(), size)), APPLICATION_FILE);
    if (!is_application_file(path)) return fail(INSTALLED_APPLICATION);
    return path;
}

Status launch_application(std::string_view path, const LanguageTexts& texts) {
    const std::wstring file = to_wide(path);
    const std::wstring verb = to_wide("open");
    const HINSTANCE result = ::ShellExecuteW(nullptr, verb.c_str(), file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Not a real instance handle: a number, greater than 32 on success.
    if (reinterpret_cast<INT_PTR>(result) > 32) return {};
    return fail(std::string(localized_text(texts, "launchFailed")));
}

}  // namespace mirel
