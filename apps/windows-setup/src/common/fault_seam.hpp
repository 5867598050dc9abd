#pragma once

// The fault seam of test builds (the CMake option MIREL_FAULT_SEAM), between the program and the
// system in common/os.hpp. The program's own build never includes it.
//
// What it does is set by the environment variable MIREL_FAULT, one of:
//   count PATH               counts every call; at the end of the run writes "NAME COUNT" lines
//   fail NAME N ERROR PATH   the Nth call of NAME fails with ERROR (decimal, or hex after 0x)
//   kill NAME N PATH         the process ends just before the Nth call of NAME, as if killed
// NAME is a function of common/os.hpp ("allocate" is operator new's memory). PATH, the rest of the line, is the file
// that the seam writes to: the counts, or "struck NAME N" once the fault has been dealt.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <type_traits>

namespace mirel::fault {

// The exit code of a process that the seam ended before a call.
inline constexpr UINT KILLED_EXIT_CODE = 9;

// Called before each call of the system's `name`: counts it; ends the process there when that is
// this call's fault; gives the error that the call is to fail with when that is.
[[nodiscard]] std::optional<DWORD> strike(const char* name) noexcept;

// A failed call's return value when the return value is the error (an NTSTATUS, an HRESULT, an
// msi.dll error, ShellExecuteW's number).
template <typename Result>
[[nodiscard]] Result returned_error(DWORD error) noexcept {
    if constexpr (std::is_pointer_v<Result>) {
        return reinterpret_cast<Result>(static_cast<INT_PTR>(error));
    } else {
        return static_cast<Result>(error);
    }
}

}  // namespace mirel::fault

// A function that fails by returning `failed` with the reason in the thread's last error.
#define MIREL_FAULT_SEAMED_FALLIBLE(name, failed)                               \
    template <typename... Arguments>                                            \
    inline auto name(Arguments... arguments)->decltype(::name(arguments...)) {  \
        if (const std::optional<DWORD> error = ::mirel::fault::strike(#name)) { \
            ::SetLastError(*error);                                             \
            return static_cast<decltype(::name(arguments...))>(failed);         \
        }                                                                       \
        return ::name(arguments...);                                            \
    }

// A function whose return value is its error.
#define MIREL_FAULT_SEAMED_RETURNING_ERROR(name)                                           \
    template <typename... Arguments>                                                       \
    inline auto name(Arguments... arguments)->decltype(::name(arguments...)) {             \
        if (const std::optional<DWORD> error = ::mirel::fault::strike(#name))              \
            return ::mirel::fault::returned_error<decltype(::name(arguments...))>(*error); \
        return ::name(arguments...);                                                       \
    }

// A function that cannot fail: counted, and a place to end the process at.
#define MIREL_FAULT_SEAMED_PAUSING(name)                                       \
    template <typename... Arguments>                                           \
    inline auto name(Arguments... arguments)->decltype(::name(arguments...)) { \
        static_cast<void>(::mirel::fault::strike(#name));                      \
        return ::name(arguments...);                                           \
    }
