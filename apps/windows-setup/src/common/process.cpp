#include "common/process.hpp"

#include <array>

#include "common/win32.hpp"

namespace mirel {
namespace {

bool is_handle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

}  // namespace

Result<std::uint32_t> run_child_and_wait(const ChildStart& child) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    BOOL inherit = FALSE;
    if (child.pass_standard_handles) {
        inherit = TRUE;
        const std::array<HANDLE, 3> standard = {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE),
                                                ::GetStdHandle(STD_ERROR_HANDLE)};
        // A program started from the desktop has no standard handles; naming null ones would give
        // the child nothing better than its own defaults.
        if (is_handle(standard[0]) || is_handle(standard[1]) || is_handle(standard[2])) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = standard[0];
            startup.hStdOutput = standard[1];
            startup.hStdError = standard[2];
        }
    }

    std::wstring command_line = child.command_line;  // CreateProcessW may write into it
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(child.program.c_str(), command_line.data(), nullptr, nullptr, inherit,
                          child.flags | CREATE_UNICODE_ENVIRONMENT, const_cast<wchar_t*>(child.environment), nullptr,
                          &startup, &started)) {
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
