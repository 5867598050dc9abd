#pragma once

// Helpers for the suites that run under Wine and start the built setup program as a separate
// process, the way a user or an update parent starts it.

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "test_driver.hpp"
#include "wine_files.hpp"

namespace mirel::wine_test {

// Generous: a cold Wine start of a 28 MB image on a loaded machine takes seconds.
inline constexpr DWORD WINDOW_TIMEOUT_MS = 30000;
inline constexpr DWORD EXIT_TIMEOUT_MS = 60000;

// The built mirel-setup.exe; the environment variable MIREL_SETUP_PROGRAM (a Windows path)
// overrides it, for running a suite against another image.
std::wstring setup_program();

// Another program of the build's bin folder, such as "mirel-test-driver.exe".
std::wstring built_program(std::wstring_view file_name);

// TMP and TEMP for a child: Wine puts its own in place of the Linux ones, so a child gets a
// temporary directory of the test's choosing only through the environment block.
Environment temp_environment(const std::wstring& directory);

// Starts the setup program (or `program`, a Windows path) with these arguments and environment
// additions; fails the calling test and returns null when it cannot be started.
std::unique_ptr<Process> start_setup(std::vector<std::wstring> arguments, Environment environment,
                                     bool capture_standard_error = false, std::wstring program = {});

}  // namespace mirel::wine_test
