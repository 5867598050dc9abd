#include "install/engine.hpp"

#include <cstdio>
#include <vector>

#include "common/held_files.hpp"
#include "common/installer_api.hpp"
#include "common/os.hpp"
#include "common/path.hpp"
#include "common/process.hpp"
#include "common/run_log.hpp"
#include "common/win32.hpp"
#include "install/desktop_shell.hpp"
#include "install/installer.hpp"

namespace mirel {
namespace {

constexpr std::string_view APPLICATION_FILE = "mirel-desktop.exe";
constexpr DWORD INSTALL_LOCATION_UNITS = 32768;
// Windows Installer holds it, machine-wide, while it installs anything.
constexpr const wchar_t* INSTALLER_MUTEX = L"Global\\_MSIExecute";

bool is_existing_file(const std::string& path) {
    const DWORD attributes = os::GetFileAttributesW(file_system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

struct Installer {
    std::string program;
    std::string directory;
};

// Only the system and the Windows directory: the program's own folder (often a downloads folder),
// the current directory and PATH could each hold a planted "msiexec.exe" that would then run with
// whatever rights the installation is granted.
Result<Installer> locate_installer() {
    for (const auto& directory : {system_directory(), system_windows_directory()}) {
        if (!directory) continue;
        Installer found{join_path(from_wide(*directory), INSTALLER_PROGRAM), from_wide(*directory)};
        if (is_existing_file(found.program)) return found;
    }
    return fail(ErrorCode::ProgramNotFound);
}

// True when the target of `path`, links followed, is something other than a directory.
bool is_application_file(const std::string& path) {
    const std::wstring wide_path = file_system_path(path);
    const UniqueHandle file(os::CreateFileW(wide_path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file) return has_attributes(file.get(), 0, FILE_ATTRIBUTE_DIRECTORY);
    // A file that the system itself holds (such as one being paged) refuses every open with
    // ERROR_CANT_ACCESS_FILE; its directory entry still tells what it is.
    if (os::GetLastError() != ERROR_CANT_ACCESS_FILE) return false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!os::GetFileAttributesExW(wide_path.c_str(), GetFileExInfoStandard, &data)) return false;
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

bool wait_for_other_installation(std::uint32_t bound_ms) {
    // Opened for waiting and nothing else: the program never changes the installer's mutex.
    const UniqueHandle mutex(os::OpenMutexW(SYNCHRONIZE, FALSE, INSTALLER_MUTEX));
    if (!mutex) {
        const DWORD error = os::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            log_event("installer", {"no other installation in progress"});
        } else {
            log_event("installer", {"whether another installation is in progress cannot be told: ",
                                    LogPart::os_error(error), "; the engine is started"});
        }
        return true;
    }
    const ULONGLONG started = os::GetTickCount64();
    DWORD waited = os::WaitForSingleObject(mutex.get(), 0);
    const bool busy = waited == WAIT_TIMEOUT;
    if (busy) {
        log_event("installer", {"another installation is in progress: waiting up to ", bound_ms, " ms for it to end"});
        waited = os::WaitForSingleObject(mutex.get(), bound_ms);
    }
    const ULONGLONG took = os::GetTickCount64() - started;
    if (waited == WAIT_TIMEOUT) {
        log_event("installer",
                  {"another installation is still in progress after ", took, " ms: the engine is not started"});
        return false;
    }
    if (waited == WAIT_FAILED) {
        log_event("installer", {"the wait for another installation failed: ", LogPart::os_error(os::GetLastError()),
                                "; the engine is started"});
        return true;
    }
    // Ours now (also when its last holder ended without letting go): never keep the installer from
    // starting, this program's own engine least of all.
    if (!os::ReleaseMutex(mutex.get())) {
        log_event("installer", {"the installer's mutex could not be let go: ", LogPart::os_error(os::GetLastError())});
    }
    log_event("installer", {busy ? "the other installation ended after " : "no other installation in progress",
                            busy ? LogPart(took) : LogPart(""), busy ? " ms" : ""});
    return true;
}

Result<std::int32_t> run_installer_engine(std::string_view package_path, InstallMode mode,
                                          std::string_view engine_log) {
    ASSIGN_OR_RETURN(const Installer installer, locate_installer());
    ASSIGN_OR_RETURN(const std::string command_line, installer_command_line(package_path, mode, engine_log));
    log_event("engine", {"starting ", installer.program, " with the command line ", LogPart::outside(command_line)});
    if (!engine_log.empty()) log_event("engine", {"its own verbose log: ", engine_log});
    ChildStart child;
    child.program = to_wide(installer.program);
    child.command_line = to_wide(command_line);
    // Not this program's current directory (usually a downloads folder): the engine, which may
    // run elevated, finds nothing there that anybody could have planted.
    child.current_directory = to_wide(installer.directory);
    child.pass_standard_handles = true;
    ASSIGN_OR_RETURN(const std::uint32_t exit_code, run_child_and_wait(child));
    return static_cast<std::int32_t>(exit_code);
}

Result<std::string> find_installed_application(std::string_view product_code) {
    const std::wstring code = to_wide(product_code);
    const std::wstring property = to_wide("InstallLocation");
    std::vector<wchar_t> location(INSTALL_LOCATION_UNITS);
    DWORD size = INSTALL_LOCATION_UNITS;
    // Windows Installer's own error stays with the code, for the run's log.
    const UINT found = os::MsiGetProductInfoW(code.c_str(), property.c_str(), location.data(), &size);
    if (found != ERROR_SUCCESS || size == 0 || size >= INSTALL_LOCATION_UNITS)
        return fail(ErrorCode::InstallLocation, found);
    std::string path = join_path(from_wide(std::wstring_view(location.data(), size)), APPLICATION_FILE);
    log_event("launch", {"the product's install location gives ", path});
    if (!is_application_file(path)) return fail(ErrorCode::InstalledApplication);
    return path;
}

Status launch_application(std::string_view path, const LanguageTexts& texts) {
    const std::wstring file = to_wide(path);
    const std::wstring verb = to_wide("open");
    // The application starts in its own folder, not in wherever this program was started from.
    const std::size_t separator = path.find_last_of("\\/");
    std::wstring folder = separator == std::string_view::npos ? std::wstring() : to_wide(path.substr(0, separator));
    if (folder.ends_with(L':')) folder.push_back(L'\\');  // a drive's root, not its current directory
    // Started from an elevated run, the application would get the installer's rights, or be the
    // administrator whose password was typed in: its per-user data would go to the wrong profile
    // with the wrong owner, and Explorer would refuse to drop files on it.
    if (is_elevated()) {
        const std::expected<void, ShellRefusal> opened = open_through_desktop_shell(file, folder);
        if (opened) {
            log_event("launch", {path, ": started through the desktop shell, as the signed-in user"});
            return {};
        }
        char code[11];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(opened.error().result));
        log_event("launch", {"the desktop shell cannot start it as the signed-in user (", opened.error().call, " gave ",
                             code, "): this elevated run starts it itself"});
    }
    const HINSTANCE result = os::ShellExecuteW(nullptr, verb.c_str(), file.c_str(), nullptr,
                                               folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
    // Not a real instance handle: a number, greater than 32 on success.
    const INT_PTR number = reinterpret_cast<INT_PTR>(result);
    log_event("launch", {path, number > 32 ? ": started" : ": not started, the shell answered ",
                         number > 32 ? LogPart("") : LogPart(number)});
    if (number > 32) return {};
    return fail(SetupError::from_text(std::string(localized_text(texts, TextKey::launchFailed))));
}

}  // namespace mirel
