#pragma once

#include <cstdint>

#include "common/setup_error.hpp"
#include "options/launch_options.hpp"

namespace mirel {

inline constexpr std::uint32_t UPDATE_PARENT_TIMEOUT_MS = 120000;

// Waits up to UPDATE_PARENT_TIMEOUT_MS for the process named by "--wait-pid=" to end.
[[nodiscard]] Status wait_for_update_parent(const LaunchOptions& options);

}  // namespace mirel
