#pragma once

// Every function of the operating system that the program calls is reached through this header
// and nowhere else: `os::CreateFileW(...)` is the system's own CreateFileW. The lists below are the
// whole of what the program asks of Windows, each function with what it gives back on failure.
//
// Functions of DLLs that the program does not import (ntdll's native calls, msi.dll, bcrypt.dll,
// comctl32's task dialog, ole32's COM, GetTempPath2W) are looked up in the system directory at their
// first call, never in the program's own folder. One that is missing fails as its list entry says,
// with ERROR_PROC_NOT_FOUND as the last error.
//
// A test build (the CMake option MIREL_FAULT_SEAM) puts its fault seam here, between the program
// and the system (common/fault_seam.hpp); the program's own build contains none of it.

#include <windows.h>

#include <winternl.h>

#include <bcrypt.h>
#include <commctrl.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>
#include <oleauto.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstddef>
#include <cstdlib>
#include <type_traits>

#if MIREL_FAULT_SEAM
#include "common/fault_seam.hpp"
#endif

// The imported functions that can fail: name, and what the function returns when it fails (the
// reason then in the thread's last error).
#define MIREL_OS_FALLIBLE(X)                                       \
    X(CheckTokenMembership, FALSE)                                 \
    X(CommandLineToArgvW, nullptr)                                 \
    X(ConvertSidToStringSidW, FALSE)                               \
    X(ConvertStringSecurityDescriptorToSecurityDescriptorW, FALSE) \
    X(CreateFileW, INVALID_HANDLE_VALUE)                           \
    X(CreatePipe, FALSE)                                           \
    X(CreateProcessW, FALSE)                                       \
    X(CreateWellKnownSid, FALSE)                                   \
    X(DuplicateHandle, FALSE)                                      \
    X(FlushFileBuffers, FALSE)                                     \
    X(FormatMessageW, 0)                                           \
    X(GetConsoleMode, FALSE)                                       \
    X(GetEnvironmentStringsW, nullptr)                             \
    X(GetExitCodeProcess, FALSE)                                   \
    X(GetFileAttributesExW, FALSE)                                 \
    X(GetFileAttributesW, INVALID_FILE_ATTRIBUTES)                 \
    X(GetFileInformationByHandle, FALSE)                           \
    X(GetFileInformationByHandleEx, FALSE)                         \
    X(GetFinalPathNameByHandleW, 0)                                \
    X(GetFullPathNameW, 0)                                         \
    X(GetHandleInformation, FALSE)                                 \
    X(GetModuleHandleExW, FALSE)                                   \
    X(GetModuleHandleW, nullptr)                                   \
    X(GetProcAddress, nullptr)                                     \
    X(GetProcessTimes, FALSE)                                      \
    X(GetShortPathNameW, 0)                                        \
    X(GetStdHandle, INVALID_HANDLE_VALUE)                          \
    X(GetSystemDirectoryW, 0)                                      \
    X(GetSystemWindowsDirectoryW, 0)                               \
    X(GetTempPathW, 0)                                             \
    X(GetTokenInformation, FALSE)                                  \
    X(InitializeProcThreadAttributeList, FALSE)                    \
    X(LoadIconW, nullptr)                                          \
    X(LoadLibraryExW, nullptr)                                     \
    X(MessageBoxW, 0)                                              \
    X(MoveFileExW, FALSE)                                          \
    X(MultiByteToWideChar, 0)                                      \
    X(OpenMutexW, nullptr)                                         \
    X(OpenProcess, nullptr)                                        \
    X(OpenProcessToken, FALSE)                                     \
    X(PeekNamedPipe, FALSE)                                        \
    X(ReadFile, FALSE)                                             \
    X(ReleaseMutex, FALSE)                                         \
    X(SetDefaultDllDirectories, FALSE)                             \
    X(SetFileInformationByHandle, FALSE)                           \
    X(SysAllocString, nullptr)                                     \
    X(UpdateProcThreadAttribute, FALSE)                            \
    X(WaitForSingleObject, WAIT_FAILED)                            \
    X(WriteConsoleW, FALSE)                                        \
    X(WriteFile, FALSE)

// Imported functions whose return value is their error (ShellExecuteW's is a number of 32 or
// less, GetErrorInfo's an HRESULT).
#define MIREL_OS_RETURNING_ERROR(X) \
    X(GetErrorInfo)                 \
    X(ShellExecuteW)

// Imported functions that cannot fail, or whose failure changes nothing (a close).
#define MIREL_OS_PLAIN(X)             \
    X(AllowSetForegroundWindow)       \
    X(CloseHandle)                    \
    X(DeleteProcThreadAttributeList)  \
    X(ExitProcess)                    \
    X(FreeEnvironmentStringsW)        \
    X(GetCommandLineW)                \
    X(GetConsoleOutputCP)             \
    X(GetCurrentProcess)              \
    X(GetCurrentProcessId)            \
    X(GetLastError)                   \
    X(GetSystemTimePreciseAsFileTime) \
    X(GetTickCount64)                 \
    X(GetUserDefaultUILanguage)       \
    X(GetWindowThreadProcessId)       \
    X(LocalFree)                      \
    X(SetLastError)                   \
    X(SysFreeString)                  \
    X(SysStringLen)

// The program's one pause: it cannot fail, but a test build can end the process there.
#define MIREL_OS_PAUSING(X) X(Sleep)

namespace mirel::os {

// STATUS_PROCEDURE_NOT_FOUND (ntstatus.h clashes with windows.h).
inline constexpr NTSTATUS PROCEDURE_MISSING = static_cast<NTSTATUS>(0xC000007A);

// What the program calls RtlGetVersion by: the version that the system really has, whatever
// compatibility mode the process runs in.
using RtlGetVersionFunction = NTSTATUS WINAPI(PRTL_OSVERSIONINFOW);
using GetTempPath2WFunction = DWORD WINAPI(DWORD, LPWSTR);
// Declared only in the driver kit's headers.
using NtQueryDirectoryFileFunction = NTSTATUS NTAPI(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                                    ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

// The address of `name` in `library`, loaded from the system directory unless `load` is false and
// the process has not loaded it yet; null when either is missing. A library found already loaded
// is pinned, so that nothing can unload it from under the address.
[[nodiscard]] FARPROC system_export(const wchar_t* library, const char* name, bool load = true) noexcept;

// A function of a DLL that the program does not import, found at its first call.
template <typename Function>
class Loaded;

template <typename Result, typename... Arguments>
class Loaded<Result(Arguments...)> {
    // A missing function that returns nothing gives nothing back.
    using Missing = std::conditional_t<std::is_void_v<Result>, std::nullptr_t, Result>;

public:
    constexpr Loaded(const wchar_t* library, const char* name, Missing missing) noexcept
        : library_(library), name_(name), missing_(missing) {}
    Loaded(const Loaded&) = delete;
    Loaded& operator=(const Loaded&) = delete;

    Result operator()(Arguments... arguments) {
#if MIREL_FAULT_SEAM
        if (const std::optional<DWORD> error = fault::strike(name_)) return fault::returned_error<Result>(*error);
#endif
        if (!available()) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return static_cast<Result>(missing_);
        }
        return function_(arguments...);
    }

    // True when the system has it. Found once; a lookup that failed is tried again at the next call.
    [[nodiscard]] bool available() {
        return find(true);
    }
    // The same, but false rather than loading its library when the process has not loaded it.
    [[nodiscard]] bool available_if_loaded() {
        return find(false);
    }

private:
    bool find(bool load) {
        if (function_ == nullptr) {
            // Through a generic function pointer, which -Wcast-function-type accepts.
            function_ = reinterpret_cast<Result (*)(Arguments...)>(
                reinterpret_cast<void (*)()>(system_export(library_, name_, load)));
        }
        return function_ != nullptr;
    }

    const wchar_t* library_;
    const char* name_;
    Missing missing_;
    Result (*function_)(Arguments...) = nullptr;
};

#if MIREL_FAULT_SEAM
#define MIREL_OS_REACH_FALLIBLE(name, failed) MIREL_FAULT_SEAMED_FALLIBLE(name, failed)
#define MIREL_OS_REACH_RETURNING_ERROR(name) MIREL_FAULT_SEAMED_RETURNING_ERROR(name)
#define MIREL_OS_REACH_PAUSING(name) MIREL_FAULT_SEAMED_PAUSING(name)
#else
#define MIREL_OS_REACH_FALLIBLE(name, failed) using ::name;
#define MIREL_OS_REACH_RETURNING_ERROR(name) using ::name;
#define MIREL_OS_REACH_PAUSING(name) using ::name;
#endif
#define MIREL_OS_REACH_PLAIN(name) using ::name;
MIREL_OS_FALLIBLE(MIREL_OS_REACH_FALLIBLE)
MIREL_OS_RETURNING_ERROR(MIREL_OS_REACH_RETURNING_ERROR)
MIREL_OS_PLAIN(MIREL_OS_REACH_PLAIN)
MIREL_OS_PAUSING(MIREL_OS_REACH_PAUSING)
#undef MIREL_OS_REACH_FALLIBLE
#undef MIREL_OS_REACH_RETURNING_ERROR
#undef MIREL_OS_REACH_PLAIN
#undef MIREL_OS_REACH_PAUSING

// Memory for operator new, from the C runtime's heap; null when there is none.
[[nodiscard]] inline void* allocate(std::size_t size) noexcept {
#if MIREL_FAULT_SEAM
    if (fault::strike("allocate")) return nullptr;
#endif
    return std::malloc(size);
}

// The loaded functions: their library, and what they give when the library or the export is
// missing. Native calls and bcrypt return an NTSTATUS, msi.dll a Windows error (MsiEvaluateConditionW
// a condition result), the task dialog and COM an HRESULT.
#define MIREL_OS_LOADED(X)                                                            \
    X(L"ntdll.dll", NtCreateFile, PROCEDURE_MISSING)                                  \
    X(L"ntdll.dll", NtQueryVolumeInformationFile, PROCEDURE_MISSING)                  \
    X(L"ntdll.dll", RtlNtStatusToDosError, ERROR_MR_MID_NOT_FOUND)                    \
    X(L"comctl32.dll", TaskDialogIndirect, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND))  \
    X(L"ole32.dll", CoInitializeEx, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND))         \
    X(L"ole32.dll", CoCreateInstance, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND))       \
    X(L"ole32.dll", CoUninitialize, nullptr)                                          \
    X(L"msi.dll", MsiOpenDatabaseW, ERROR_PROC_NOT_FOUND)                             \
    X(L"msi.dll", MsiDatabaseOpenViewW, ERROR_PROC_NOT_FOUND)                         \
    X(L"msi.dll", MsiViewExecute, ERROR_PROC_NOT_FOUND)                               \
    X(L"msi.dll", MsiViewFetch, ERROR_PROC_NOT_FOUND)                                 \
    X(L"msi.dll", MsiRecordGetStringW, ERROR_PROC_NOT_FOUND)                          \
    X(L"msi.dll", MsiRecordReadStream, ERROR_PROC_NOT_FOUND)                          \
    X(L"msi.dll", MsiOpenPackageExW, ERROR_PROC_NOT_FOUND)                            \
    X(L"msi.dll", MsiSetPropertyW, ERROR_PROC_NOT_FOUND)                              \
    X(L"msi.dll", MsiEvaluateConditionW, MSICONDITION_ERROR)                          \
    X(L"msi.dll", MsiGetProductInfoW, ERROR_PROC_NOT_FOUND)                           \
    X(L"msi.dll", MsiCloseHandle, ERROR_PROC_NOT_FOUND)                               \
    X(L"msi.dll", MsiCloseAllHandles, 0)                                              \
    X(L"bcrypt.dll", BCryptOpenAlgorithmProvider, PROCEDURE_MISSING)                  \
    X(L"bcrypt.dll", BCryptCloseAlgorithmProvider, PROCEDURE_MISSING)                 \
    X(L"bcrypt.dll", BCryptCreateHash, PROCEDURE_MISSING)                             \
    X(L"bcrypt.dll", BCryptHashData, PROCEDURE_MISSING)                               \
    X(L"bcrypt.dll", BCryptFinishHash, PROCEDURE_MISSING)                             \
    X(L"bcrypt.dll", BCryptDestroyHash, PROCEDURE_MISSING)
#define MIREL_OS_LOAD(library, name, missing) \
    inline constinit Loaded<decltype(::name)> name{library, #name, missing};
MIREL_OS_LOADED(MIREL_OS_LOAD)
#undef MIREL_OS_LOAD
inline constinit Loaded<RtlGetVersionFunction> RtlGetVersion{L"ntdll.dll", "RtlGetVersion", PROCEDURE_MISSING};
inline constinit Loaded<NtQueryDirectoryFileFunction> NtQueryDirectoryFile{L"ntdll.dll", "NtQueryDirectoryFile",
                                                                           PROCEDURE_MISSING};
// Missing before Windows 10 build 20348 (and under Wine): GetTempPathW is the fallback.
inline constinit Loaded<GetTempPath2WFunction> GetTempPath2W{L"kernel32.dll", "GetTempPath2W", 0};

}  // namespace mirel::os
