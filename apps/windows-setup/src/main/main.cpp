#include "common/os.hpp"
#include "common/run_log.hpp"
#include "common/run_log_file.hpp"
#include "common/win32.hpp"
#include "dialogs/dialogs.hpp"
#include "main/run_diagnostics.hpp"
#include "main/run_setup.hpp"
#include "options/launch_options.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load a library: never from the program's own folder, which is
    // usually a downloads folder that anybody may have put a DLL into.
    mirel::os::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    mirel::LaunchOptions options = mirel::parse_launch_options(mirel::process_arguments());
    const mirel::FailureReport where =
        options.validate ? mirel::FailureReport::StandardError : mirel::FailureReport::Box;
    // Asked for, the log comes first: a run that cannot keep it does not go on without it.
    if (options.log_path) {
        const mirel::Result<std::string> log = mirel::open_run_log(*options.log_path);
        if (!log) mirel::report_failure(log.error(), where);
        options.log_path = *log;
        mirel::log_run_start();
    }
    const mirel::Status outcome = mirel::run_setup(options);
    mirel::log_run_end(outcome, where);
    if (!outcome) mirel::report_failure(outcome.error(), where);
    return 0;
}
