#include "update/update_parent.hpp"

#include "common/win32.hpp"
#include "update/parent_pid.hpp"

namespace mirel {

Status wait_for_update_parent(const LaunchOptions& options) {
    if (!options.wait_pid) return fail(ErrorCode::UpdateParentInvalid);
    const std::optional<std::uint32_t> pid = parse_parent_pid(*options.wait_pid);
    if (!pid || *pid == 0 || *pid == ::GetCurrentProcessId()) return fail(ErrorCode::UpdateParentInvalid);

    UniqueHandle parent(::OpenProcess(SYNCHRONIZE, FALSE, *pid));
    if (!parent) {
        const DWORD error = ::GetLastError();
        // No process with that id: the parent has already ended.
        if (HRESULT_FROM_WIN32(error) == HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)) return {};
        return fail(ErrorCode::UpdateParentUnavailable);
    }
    const DWORD waited = ::WaitForSingleObject(parent.get(), UPDATE_PARENT_TIMEOUT_MS);
    parent.reset();
    if (waited != WAIT_OBJECT_0) return fail(ErrorCode::UpdateParentBusy);
    return {};
}

}  // namespace mirel
