#pragma once

#include "dialogs/dialogs.hpp"

namespace mirel {

// From now on, memory that runs out ends the run: every staging directory is cleaned up through the
// handles it holds, and the failure (the system's text for ERROR_NOT_ENOUGH_MEMORY) is logged and
// reported `where`, with exit code 1. Called again when `where` is better known.
void end_run_when_memory_runs_out(FailureReport where);

}  // namespace mirel
