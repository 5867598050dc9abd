#include "common/os.hpp"
#include "common/win32.hpp"
#include "dialogs/dialogs.hpp"
#include "main/run_setup.hpp"
#include "options/launch_options.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load a library: never from the program's own folder, which is
    // usually a downloads folder that anybody may have put a DLL into.
    mirel::os::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    const mirel::LaunchOptions options = mirel::parse_launch_options(mirel::process_arguments());
    if (const mirel::Status outcome = mirel::run_setup(options); !outcome) {
        mirel::report_failure(outcome.error(),
                              options.validate ? mirel::FailureReport::StandardError : mirel::FailureReport::Box);
    }
    return 0;
}
