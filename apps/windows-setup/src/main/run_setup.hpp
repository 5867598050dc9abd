#pragma once

#include "common/setup_error.hpp"
#include "options/launch_options.hpp"

namespace mirel {

// One whole run, step by step; success or the first failure. Never shows a failure itself.
[[nodiscard]] Status run_setup(const LaunchOptions& options);

}  // namespace mirel
