#include "main/out_of_memory.hpp"

#include <cstdlib>
#include <new>

#include "common/os.hpp"
#include "common/win32.hpp"
#include "main/run_diagnostics.hpp"
#include "staging/staging.hpp"

namespace mirel {
namespace {

// Given back to the heap when memory runs out, so that the report can still be made: the clean-up
// allocates nothing, but the log line, the system's text and the failure box do.
constexpr std::size_t RESERVE_SIZE = 64 * 1024;

FailureReport report_place = FailureReport::Box;
void* reserve = nullptr;

[[noreturn]] void end_run() {
    static bool ending = false;
    // Memory ran out again while the run was being ended: nothing more can be said.
    if (ending) os::ExitProcess(1);
    ending = true;
    std::free(reserve);
    reserve = nullptr;
    // Windows Installer may have a staged package open for a query under way, which would keep it
    // from being deleted; nothing will use those handles again. A run that never loaded msi.dll has
    // none, and loading it now would only cost memory that has run out.
    if (os::MsiCloseAllHandles.available_if_loaded()) os::MsiCloseAllHandles();
    clean_up_staging_directories();
    const Result<std::int32_t> outcome = fail(os_error(ERROR_NOT_ENOUGH_MEMORY));
    log_run_end(outcome, report_place);
    report_failure(outcome.error(), report_place);
}

}  // namespace

void end_run_when_memory_runs_out(FailureReport where) {
    report_place = where;
    if (reserve == nullptr) reserve = std::malloc(RESERVE_SIZE);
    std::set_new_handler(end_run);
}

}  // namespace mirel

// Allocation never throws in this program, which has no exceptions: when memory runs out, the
// new-handler is called, as often as it returns, and it ends the run. Without a handler the
// program ends at once.
void* operator new(std::size_t size) {
    for (;;) {
        if (void* memory = mirel::os::allocate(size == 0 ? 1 : size)) return memory;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) std::abort();
        handler();
    }
}
