#include "update/update_parent.hpp"

#include "update/parent_pid.hpp"

namespace mirel {

UpdateParent open_update_parent(const LaunchOptions& options) {
    if (!options.wait_pid) return {ErrorCode::UpdateParentInvalid, {}};
    const std::optional<std::uint32_t> pid = parse_parent_pid(*options.wait_pid);
    if (!pid || *pid == 0 || *pid == os::GetCurrentProcessId()) return {ErrorCode::UpdateParentInvalid, {}};

    UniqueHandle parent(os::OpenProcess(SYNCHRONIZE, FALSE, *pid));
    if (!parent) {
        const DWORD error = os::GetLastError();
        // No process with that id: the parent has already ended.
        if (HRESULT_FROM_WIN32(error) == HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)) return {std::nullopt, {}};
        return {ErrorCode::UpdateParentUnavailable, {}};
    }
    return {std::nullopt, std::move(parent)};
}

Status wait_for_update_parent(UpdateParent parent) {
    if (parent.problem()) return fail(*parent.problem());
    if (parent.process() == nullptr) return {};
    const DWORD waited = os::WaitForSingleObject(parent.process(), UPDATE_PARENT_TIMEOUT_MS);
    if (waited != WAIT_OBJECT_0) return fail(ErrorCode::UpdateParentBusy);
    return {};
}

}  // namespace mirel
