#include "common/os.hpp"

namespace mirel::os {

FARPROC system_export(const wchar_t* library, const char* name) noexcept {
    HMODULE module = os::GetModuleHandleW(library);
    if (module == nullptr) module = os::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module == nullptr ? nullptr : os::GetProcAddress(module, name);
}

}  // namespace mirel::os
