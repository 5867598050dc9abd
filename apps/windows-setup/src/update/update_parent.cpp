#include "update/update_parent.hpp"

#include "common/run_log.hpp"
#include "update/parent_pid.hpp"

namespace mirel {

UpdateParent open_update_parent(const LaunchOptions& options) {
    if (!options.wait_pid) {
        log_event("update", {"no --wait-pid= argument names the parent"});
        return {SetupError(ErrorCode::UpdateParentInvalid), {}};
    }
    const std::optional<std::uint32_t> pid = parse_parent_pid(*options.wait_pid);
    if (!pid || *pid == 0 || *pid == os::GetCurrentProcessId()) {
        log_event("update", {"\"", LogPart::outside(*options.wait_pid), "\" names no process to wait for"});
        return {SetupError(ErrorCode::UpdateParentInvalid), {}};
    }

    UniqueHandle parent(os::OpenProcess(SYNCHRONIZE, FALSE, *pid));
    if (!parent) {
        const DWORD error = os::GetLastError();
        // No process with that id: the parent has already ended.
        if (HRESULT_FROM_WIN32(error) == HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)) {
            log_event("update", {"no process ", *pid, " runs: the parent has ended"});
            return {std::nullopt, {}, *pid};
        }
        log_event("update", {"process ", *pid, " cannot be waited for: ", LogPart::os_error(error)});
        return {SetupError(ErrorCode::UpdateParentUnavailable, error), {}, *pid};
    }
    return {std::nullopt, std::move(parent), *pid};
}

Status wait_for_update_parent(UpdateParent parent) {
    if (parent.problem()) return fail(*parent.problem());
    if (parent.process() == nullptr) return {};
    log_event("update", {"waiting for process ", parent.id(), " to end, at most ", UPDATE_PARENT_TIMEOUT_MS, " ms"});
    const ULONGLONG started = os::GetTickCount64();
    const DWORD waited = os::WaitForSingleObject(parent.process(), UPDATE_PARENT_TIMEOUT_MS);
    const DWORD error = waited == WAIT_FAILED ? os::GetLastError() : 0;
    log_event("update", {waited == WAIT_FAILED ? "the wait for process " : "process ", parent.id(),
                         waited == WAIT_FAILED     ? " failed: "
                         : waited == WAIT_OBJECT_0 ? " ended after "
                                                   : " still runs after ",
                         waited == WAIT_FAILED ? LogPart::os_error(error) : LogPart(os::GetTickCount64() - started),
                         waited == WAIT_FAILED ? "" : " ms"});
    if (waited != WAIT_OBJECT_0) return fail(ErrorCode::UpdateParentBusy, error);
    return {};
}

}  // namespace mirel
