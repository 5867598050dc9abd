#pragma once

#include <cstdint>

#include "common/setup_error.hpp"
#include "options/launch_options.hpp"

namespace mirel {

// One whole run, step by step: the process's exit code (0, or in a quiet run the installer
// engine's own), or the first failure. Never shows a failure itself.
[[nodiscard]] Result<std::int32_t> run_setup(const LaunchOptions& options);

}  // namespace mirel
