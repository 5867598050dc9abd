#pragma once

#include <string>
#include <string_view>

#include "common/setup_error.hpp"

namespace mirel {

// The suffix of the installer engine's own verbose log, kept beside the run's log.
inline constexpr std::string_view ENGINE_LOG_SUFFIX = ".engine.log";

// Opens the run's log at `path` (a relative path is taken against the current directory), creating
// it or appending to it, and sends every event there from now on: one UTF-8 line each, starting
// with the UTC time and the milliseconds since the log was opened, written through as it happens.
// The file is shared for reading only and never through a link at its name. Returns its full
// path; the operating-system error when it cannot be opened.
[[nodiscard]] Result<std::string> open_run_log(std::string_view path);

}  // namespace mirel
