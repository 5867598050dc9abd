#include "common/win32.hpp"

#include <shellapi.h>

#include <vector>

#include "common/os_error_text.hpp"
#include "common/path.hpp"
#include "common/unicode.hpp"

namespace mirel {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::wstring to_wide(std::string_view text) {
    const std::u16string wide = utf8_to_utf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string from_wide(std::wstring_view text) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::vector<std::string> process_arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (argv == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(from_wide(argv[i]));
    ::LocalFree(argv);
    return arguments;
}

std::string os_error_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0) {
        const DWORD format_error = ::GetLastError();
        return format_os_error_fallback(code, format_error);
    }
    std::string message = from_wide(std::wstring_view(buffer, length));
    ::LocalFree(buffer);
    return format_os_error(message, code);
}

std::wstring file_system_path(std::string_view path) {
    const std::wstring wide = to_wide(path);
    const std::u16string_view view(reinterpret_cast<const char16_t*>(wide.c_str()), wide.size());
    if (passes_unprefixed(view) || is_device_path(view)) return wide;

    std::vector<wchar_t> full(wide.size() + MAX_PATH);
    for (;;) {
        const DWORD needed =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (needed == 0) return wide;  // let the file-system call itself report the failure
        if (needed < full.size()) {
            full.resize(needed);
            break;
        }
        full.resize(needed + 1);
    }
    const std::u16string prefixed = long_path_form(
        std::u16string_view(reinterpret_cast<const char16_t*>(full.data()), full.size()));
    return std::wstring(prefixed.begin(), prefixed.end());
}

FARPROC system_procedure(const wchar_t* library, const char* name) noexcept {
    HMODULE module = ::GetModuleHandleW(library);
    if (module == nullptr) module = ::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module == nullptr ? nullptr : ::GetProcAddress(module, name);
}

}  // namespace mirel
