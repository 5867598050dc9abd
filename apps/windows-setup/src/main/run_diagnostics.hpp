#pragma once

// The first and the last lines of a run's log, and what a run that cannot open its log reports.

#include <cstdint>

#include "common/setup_error.hpp"
#include "dialogs/dialogs.hpp"

namespace mirel {

// The program's version, its command line, the system's version and display language, the process,
// whether it runs elevated, and the temporary directory that staging will use.
void log_run_start();

// The failure, if any: its code, the operating-system error behind it and the text the user is
// shown (and where); then the exit code: the successful run's, or the failure's.
void log_run_end(const Result<std::int32_t>& outcome, FailureReport where);

// The failure of a run whose log cannot be opened: a log that another run of the program is
// writing (or another program: the system cannot tell which) in words, in the display language;
// any other failure as it is.
[[nodiscard]] SetupError run_log_failure(const SetupError& error);

}  // namespace mirel
