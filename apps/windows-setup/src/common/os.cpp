#include "common/os.hpp"

namespace mirel::os {

FARPROC system_export(const wchar_t* library, const char* name, bool load) noexcept {
    HMODULE module = nullptr;
    // Found without a reference of its own, a library could be unloaded by whoever loaded it while
    // the program still calls into it.
    if (!os::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, library, &module)) {
        module = load ? os::LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) : nullptr;
    }
    return module == nullptr ? nullptr : os::GetProcAddress(module, name);
}

}  // namespace mirel::os
