#pragma once

// Helpers for the suites that run under Wine and start the built setup program as a separate
// process, the way a user or an update parent starts it, and answer its windows from outside.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "test_driver.hpp"
#include "wine_files.hpp"

namespace mirel::wine_test {

// Generous: a cold Wine start of a 28 MB image, the package inspection and a real installation
// come before most windows, and all are slow under a loaded Wine.
inline constexpr DWORD WINDOW_TIMEOUT_MS = 90'000;
inline constexpr DWORD EXIT_TIMEOUT_MS = 90'000;

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

// The program's window with this caption; null (and a failure naming what is visible) when it
// does not come.
HWND await_window(Process& process, const std::wstring& caption, DWORD timeout_ms = WINDOW_TIMEOUT_MS);

// Clicks the button, or presses the key, and waits until its window has gone; false, and a failure
// of the calling test, when it cannot.
bool click_and_wait(HWND window, int id);
bool press_and_wait(HWND window, test_driver::Key key);

// The program ends with `exit_code` and shows no window (other than `ignored`) before it does;
// with `whole_tree`, neither does any process that it started (the installer engine above all).
void expect_end_without_window(Process& process, std::uint32_t exit_code, HWND ignored = nullptr,
                               DWORD timeout_ms = EXIT_TIMEOUT_MS, bool whole_tree = false);

}  // namespace mirel::wine_test
