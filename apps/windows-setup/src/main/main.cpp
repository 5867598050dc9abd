#include <windows.h>

#include "common/win32.hpp"
#include "dialogs/dialogs.hpp"
#include "main/run_setup.hpp"
#include "options/launch_options.hpp"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything else can load a library: never from the program's own folder, which is
    // usually a downloads folder that anybody may have put a DLL into.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    const mirel::Status outcome = [] {
        const std::vector<std::string> arguments = mirel::process_arguments();
        return mirel::run_setup(mirel::parse_launch_options(arguments));
    }();
    if (!outcome) mirel::report_failure(outcome.error());
    return 0;
}
