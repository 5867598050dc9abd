#pragma once

#include <cstdint>
#include <optional>

#include "common/setup_error.hpp"
#include "common/win32.hpp"
#include "options/launch_options.hpp"

namespace mirel {

inline constexpr std::uint32_t UPDATE_PARENT_TIMEOUT_MS = 120000;

// The update parent named by "--wait-pid=", looked up when the update run starts. Holding its
// process open means that the process waited for later is the one that started this run, even
// when it ends meanwhile and another process gets its id.
class UpdateParent {
public:
    UpdateParent(std::optional<SetupError> problem, UniqueHandle process, std::uint32_t id = 0)
        : problem_(std::move(problem)), process_(std::move(process)), id_(id) {}

    // What the wait will report instead of waiting, if anything.
    [[nodiscard]] const std::optional<SetupError>& problem() const noexcept { return problem_; }
    // Empty without a problem: the parent had already ended when it was looked up.
    [[nodiscard]] HANDLE process() const noexcept { return process_.get(); }
    [[nodiscard]] std::uint32_t id() const noexcept { return id_; }

private:
    std::optional<SetupError> problem_;
    UniqueHandle process_;
    std::uint32_t id_;
};

// Checks the id and opens its process for waiting only. Never fails: a problem is kept for the
// wait to report, so that the run reports its failures in the order of its steps.
[[nodiscard]] UpdateParent open_update_parent(const LaunchOptions& options);

// Waits up to UPDATE_PARENT_TIMEOUT_MS for the opened parent to end, then closes it.
[[nodiscard]] Status wait_for_update_parent(UpdateParent parent);

// Both steps at once.
[[nodiscard]] inline Status wait_for_update_parent(const LaunchOptions& options) {
    return wait_for_update_parent(open_update_parent(options));
}

}  // namespace mirel
