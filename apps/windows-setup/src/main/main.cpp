#include <cstdint>
#include <string_view>

#include "common/os.hpp"
#include "common/run_log.hpp"
#include "common/run_log_file.hpp"
#include "common/win32.hpp"
#include "dialogs/dialogs.hpp"
#include "main/out_of_memory.hpp"
#include "main/run_diagnostics.hpp"
#include "main/run_setup.hpp"
#include "options/launch_options.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using mirel::FailureReport;
    // Before anything else can load a library: never from the program's own folder, which is
    // usually a downloads folder that anybody may have put a DLL into. When that cannot be set, the
    // run ends before it stages or checks anything (below, once its report is known).
    const bool restricted = mirel::os::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    const DWORD restriction_error = restricted ? DWORD{ERROR_SUCCESS} : mirel::os::GetLastError();

    // Until the arguments are read (and when they cannot be), a validation or a quiet run is known
    // by its option anywhere on the command line: its caller reads standard error, and a box that
    // nobody can see (a deployment runs in a session without a desktop) would hang it for ever.
    const std::wstring_view command_line(mirel::os::GetCommandLineW());
    FailureReport where = command_line.find(mirel::VALIDATE_OPTION_WIDE) != std::wstring_view::npos ||
                                  command_line.find(mirel::QUIET_OPTION_WIDE) != std::wstring_view::npos
                              ? FailureReport::StandardError
                              : FailureReport::Box;
    mirel::end_run_when_memory_runs_out(where);
    const mirel::Result<std::vector<std::string>> arguments = mirel::process_arguments();
    if (!arguments) mirel::report_failure(arguments.error(), where);
    mirel::LaunchOptions options = mirel::parse_launch_options(*arguments);
    where = options.validate || options.quiet ? FailureReport::StandardError : FailureReport::Box;
    mirel::end_run_when_memory_runs_out(where);

    // Asked for, the log comes first: a run that cannot keep it does not go on without it.
    if (options.log_path) {
        const mirel::Result<std::string> log = mirel::open_run_log(*options.log_path);
        if (!log) mirel::report_failure(mirel::run_log_failure(log.error()), where);
        options.log_path = *log;
        mirel::log_run_start();
    }
    const mirel::Result<std::int32_t> outcome =
        restricted ? mirel::run_setup(options) : mirel::fail(mirel::os_error(restriction_error));
    mirel::log_run_end(outcome, where);
    if (!outcome) mirel::report_failure(outcome.error(), where);
    return *outcome;
}
