#pragma once

// What the sweep does to each function of the program's common/os.hpp: the one error that a real
// machine gives it (a function fails at each of its calls with that error in turn), and the
// functions before which a run is ended as if it were killed.
//
// Functions that cannot fail in a way the program could notice have no row: the closes
// (CloseHandle, MsiCloseHandle, BCryptCloseAlgorithmProvider, BCryptDestroyHash, LocalFree,
// CoUninitialize, ...), GetLastError, RtlNtStatusToDosError, RtlGetVersion, GetErrorInfo (only
// ever asked for a text), AllowSetForegroundWindow and GetWindowThreadProcessId (whose failure
// only leaves the application's window where the system puts it), and GetTempPath2W, which a failure makes return 0
// with the reason in the last error while the seam can only hand back a loaded function's error as its result (under
// Wine it is never called).

#include <windows.h>

#include <commctrl.h>
#include <msi.h>
#include <msiquery.h>
#include <shellapi.h>

#include <optional>
#include <string_view>

namespace mirel::faults {

// ntstatus.h clashes with windows.h.
inline constexpr DWORD STATUS_ACCESS_DENIED_VALUE = 0xC0000022;
inline constexpr DWORD STATUS_NO_MEMORY_VALUE = 0xC0000017;

struct RealisticError {
    std::string_view function;
    DWORD error;
};

inline constexpr RealisticError REALISTIC_ERRORS[] = {
    // Files and directories: a scanner's or another user's access list, a full disk, a failing
    // disk, a handle table that is full, a path that a policy makes too long.
    {"CreateFileW", ERROR_ACCESS_DENIED},
    {"NtCreateFile", STATUS_ACCESS_DENIED_VALUE},
    {"NtQueryVolumeInformationFile", STATUS_ACCESS_DENIED_VALUE},
    {"NtQueryDirectoryFile", STATUS_ACCESS_DENIED_VALUE},
    {"WriteFile", ERROR_DISK_FULL},
    {"FlushFileBuffers", ERROR_DISK_FULL},
    {"ReadFile", ERROR_READ_FAULT},
    {"GetFileInformationByHandle", ERROR_ACCESS_DENIED},
    {"GetFileInformationByHandleEx", ERROR_ACCESS_DENIED},
    {"SetFileInformationByHandle", ERROR_ACCESS_DENIED},
    {"GetFileAttributesW", ERROR_ACCESS_DENIED},
    {"GetFileAttributesExW", ERROR_ACCESS_DENIED},
    {"DuplicateHandle", ERROR_NO_SYSTEM_RESOURCES},
    {"GetTempPathW", ERROR_ENVVAR_NOT_FOUND},
    {"GetFinalPathNameByHandleW", ERROR_PATH_NOT_FOUND},
    {"GetShortPathNameW", ERROR_ACCESS_DENIED},
    {"GetFullPathNameW", ERROR_FILENAME_EXCED_RANGE},
    // Scheduling a deletion at restart writes to the machine's registry, which a policy may close.
    {"MoveFileExW", ERROR_ACCESS_DENIED},
    {"GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
    {"GetSystemWindowsDirectoryW", ERROR_NOT_ENOUGH_MEMORY},
    // Security descriptors and the token: a low-memory machine, a token that a policy restricts.
    {"ConvertStringSecurityDescriptorToSecurityDescriptorW", ERROR_NOT_ENOUGH_MEMORY},
    {"CreateWellKnownSid", ERROR_NOT_ENOUGH_MEMORY},
    {"ConvertSidToStringSidW", ERROR_NOT_ENOUGH_MEMORY},
    {"CheckTokenMembership", ERROR_ACCESS_DENIED},
    {"OpenProcessToken", ERROR_ACCESS_DENIED},
    {"GetTokenInformation", ERROR_ACCESS_DENIED},
    // Processes and their pipes: another session's or a protected process, an application
    // control policy, exhausted resources, a child that ended early.
    {"OpenProcess", ERROR_ACCESS_DENIED},
    // The installer's mutex: an access list that refuses a standard user; a release by a thread
    // that does not own it.
    {"OpenMutexW", ERROR_ACCESS_DENIED},
    {"ReleaseMutex", ERROR_NOT_OWNER},
    {"GetProcessTimes", ERROR_ACCESS_DENIED},
    {"GetExitCodeProcess", ERROR_ACCESS_DENIED},
    {"WaitForSingleObject", ERROR_INVALID_HANDLE},
    {"CreateProcessW", ERROR_ACCESS_DISABLED_BY_POLICY},
    {"CreatePipe", ERROR_NO_SYSTEM_RESOURCES},
    {"PeekNamedPipe", ERROR_BROKEN_PIPE},
    {"InitializeProcThreadAttributeList", ERROR_NOT_ENOUGH_MEMORY},
    {"UpdateProcThreadAttribute", ERROR_NOT_ENOUGH_MEMORY},
    {"GetStdHandle", ERROR_INVALID_HANDLE},
    {"GetHandleInformation", ERROR_INVALID_HANDLE},
    {"GetConsoleMode", ERROR_INVALID_HANDLE},
    {"WriteConsoleW", ERROR_INVALID_HANDLE},
    {"GetEnvironmentStringsW", ERROR_NOT_ENOUGH_MEMORY},
    {"CommandLineToArgvW", ERROR_NOT_ENOUGH_MEMORY},
    // Modules, resources, texts and windows.
    {"SetDefaultDllDirectories", ERROR_INVALID_PARAMETER},
    {"GetModuleHandleW", ERROR_MOD_NOT_FOUND},
    {"GetModuleHandleExW", ERROR_MOD_NOT_FOUND},
    {"LoadLibraryExW", ERROR_MOD_NOT_FOUND},
    {"GetProcAddress", ERROR_PROC_NOT_FOUND},
    {"LoadIconW", ERROR_RESOURCE_TYPE_NOT_FOUND},
    {"FormatMessageW", ERROR_MR_MID_NOT_FOUND},
    {"MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION},
    {"MessageBoxW", ERROR_NOT_ENOUGH_MEMORY},
    {"TaskDialogIndirect", static_cast<DWORD>(E_OUTOFMEMORY)},
    {"ShellExecuteW", SE_ERR_FNF},
    // The desktop shell, reached through COM: no shell in the session (a service, a session
    // without Explorer), a machine out of memory.
    {"CoInitializeEx", static_cast<DWORD>(E_OUTOFMEMORY)},
    {"CoCreateInstance", static_cast<DWORD>(CO_E_SERVER_EXEC_FAILURE)},
    {"SysAllocString", ERROR_NOT_ENOUGH_MEMORY},
    // Windows Installer: a package that a scanner holds, a database that is damaged, a product
    // that is gone.
    {"MsiOpenDatabaseW", ERROR_OPEN_FAILED},
    {"MsiDatabaseOpenViewW", ERROR_BAD_QUERY_SYNTAX},
    {"MsiViewExecute", ERROR_FUNCTION_FAILED},
    {"MsiViewFetch", ERROR_FUNCTION_FAILED},
    {"MsiSetPropertyW", ERROR_FUNCTION_FAILED},
    {"MsiRecordGetStringW", ERROR_MORE_DATA},
    {"MsiRecordReadStream", ERROR_INVALID_DATATYPE},
    {"MsiOpenPackageExW", ERROR_INSTALL_PACKAGE_OPEN_FAILED},
    {"MsiEvaluateConditionW", MSICONDITION_ERROR},
    {"MsiGetProductInfoW", ERROR_UNKNOWN_PRODUCT},
    // Hashing on a machine out of memory.
    {"BCryptOpenAlgorithmProvider", STATUS_NO_MEMORY_VALUE},
    {"BCryptCreateHash", STATUS_NO_MEMORY_VALUE},
    {"BCryptHashData", STATUS_NO_MEMORY_VALUE},
    {"BCryptFinishHash", STATUS_NO_MEMORY_VALUE},
    // operator new's memory: the seam returns null whatever the number.
    {"allocate", ERROR_NOT_ENOUGH_MEMORY},
};

// A run is ended before each call of these, as a user's Task Manager, a crash or a power cut would
// end it: while staged files are written, while they are deleted, as a child starts, and while the
// program waits (for a child, between clean-up retries).
inline constexpr std::string_view KILL_FUNCTIONS[] = {"WriteFile", "CreateProcessW", "SetFileInformationByHandle",
                                                      "WaitForSingleObject", "Sleep"};

[[nodiscard]] inline std::optional<DWORD> realistic_error(std::string_view function) {
    for (const RealisticError& row : REALISTIC_ERRORS) {
        if (row.function == function) return row.error;
    }
    return std::nullopt;
}

}  // namespace mirel::faults
