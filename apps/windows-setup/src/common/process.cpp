#include "common/process.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "common/win32.hpp"

namespace mirel {
namespace {

bool is_handle(HANDLE handle) {
    return !HandleTraits::is_empty(handle);
}

struct AttributeListDeleter {
    void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const noexcept {
        ::DeleteProcThreadAttributeList(list);
        delete[] reinterpret_cast<std::byte*>(list);
    }
};
using AttributeList = std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>, AttributeListDeleter>;

// An attribute list that lets the child inherit `handles` and nothing else. A handle of ours that
// happens to be inheritable (one this process inherited itself, say) must not reach a child that
// may run with other rights.
std::optional<AttributeList> inheriting_only(std::vector<HANDLE>& handles) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    auto* storage = new std::byte[size];
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage);
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
        delete[] storage;
        return std::nullopt;
    }
    AttributeList owned(list);
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                     handles.size() * sizeof(HANDLE), nullptr, nullptr))
        return std::nullopt;
    return owned;
}

}  // namespace

Result<std::uint32_t> run_child_and_wait(const ChildStart& child) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    std::vector<HANDLE> inherited;
    if (child.pass_standard_handles) {
        const std::array<HANDLE, 3> standard = {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE),
                                                ::GetStdHandle(STD_ERROR_HANDLE)};
        // A program started from the desktop has no standard handles; naming null ones would give
        // the child nothing better than its own defaults.
        if (std::ranges::any_of(standard, is_handle)) {
            startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
            startup.StartupInfo.hStdInput = standard[0];
            startup.StartupInfo.hStdOutput = standard[1];
            startup.StartupInfo.hStdError = standard[2];
        }
        for (const HANDLE handle : standard) {
            DWORD information = 0;
            if (is_handle(handle) && ::GetHandleInformation(handle, &information) &&
                (information & HANDLE_FLAG_INHERIT) != 0 && std::ranges::find(inherited, handle) == inherited.end())
                inherited.push_back(handle);
        }
    }
    std::optional<AttributeList> attributes;
    DWORD flags = child.flags | CREATE_UNICODE_ENVIRONMENT;
    if (!inherited.empty()) {
        attributes = inheriting_only(inherited);
        if (!attributes) return fail(last_os_error());
        startup.lpAttributeList = attributes->get();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    std::wstring command_line = child.command_line;  // CreateProcessW may write into it
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(child.program.c_str(), command_line.data(), nullptr, nullptr, inherited.empty() ? FALSE : TRUE,
                          flags, const_cast<wchar_t*>(child.environment),
                          child.current_directory.empty() ? nullptr : child.current_directory.c_str(),
                          &startup.StartupInfo, &started)) {
        return fail(last_os_error());
    }
    const UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);

    if (::WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return fail(last_os_error());
    DWORD exit_code = 0;
    if (!::GetExitCodeProcess(process.get(), &exit_code)) return fail(last_os_error());
    return std::uint32_t{exit_code};
}

}  // namespace mirel
