#pragma once

// The Windows tier's shared pieces: text conversion at the call boundary, handle owners,
// operating-system error texts, file-system path forms and run-time resolved system functions.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/setup_error.hpp"
#include "common/unique_any.hpp"

namespace mirel {

// UTF-8 to a NUL-terminated UTF-16 buffer (`c_str()`), owned by the caller during the call.
std::wstring to_wide(std::string_view text);

// UTF-16 from Windows to UTF-8, unpaired surrogates becoming U+FFFD.
std::string from_wide(std::wstring_view text);

// The process's arguments as UTF-8, the program path dropped.
std::vector<std::string> process_arguments();

// "message (os error N)" for a Windows error code, or the fallback form without a message.
std::string os_error_text(DWORD code);
inline SetupError os_error(DWORD code) { return SetupError(os_error_text(code)); }

// The form of a UTF-8 path that file-system calls get: unchanged when it is a short
// drive-absolute or UNC path, otherwise made absolute and given the "\\?\" prefix.
std::wstring file_system_path(std::string_view path);

struct HandleTraits {
    using pointer = HANDLE;
    static pointer empty() noexcept { return nullptr; }
    // Both values mean "no handle": CreateFileW fails with INVALID_HANDLE_VALUE, most others null.
    static bool is_empty(pointer h) noexcept { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
using UniqueHandle = UniqueAny<HandleTraits>;

// An export of a DLL loaded from the system directory only (never the program's own folder).
// Null when the library or the export is missing.
FARPROC system_procedure(const wchar_t* library, const char* name) noexcept;

template <typename Function>
Function* system_function(const wchar_t* library, const char* name) noexcept {
    // Through a generic function pointer, which -Wcast-function-type accepts.
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(system_procedure(library, name)));
}

}  // namespace mirel
