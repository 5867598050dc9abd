#pragma once

// What the dialog suites look for in the setup program's windows, in both languages.

#include <windows.h>

#include <cstdint>
#include <string>

#include "wine_test_support.hpp"

namespace mirel::dialog_test {

struct ModeDialogTexts {
    std::wstring title;
    std::wstring instruction;
    std::wstring content;
    std::wstring basic;     // label, line feed, note
    std::wstring advanced;  // label, line feed, note
    std::wstring cancel;
    std::wstring failed;    // heading of the failure box
};

extern const ModeDialogTexts ENGLISH;
extern const ModeDialogTexts TURKISH;

inline constexpr int BASIC = 100;
inline constexpr int ADVANCED = 101;
inline constexpr int CANCEL = IDCANCEL;

// TMP and TEMP naming a directory that does not exist: any run that gets past the dialog stops
// at its first staging step, so that no test can ever install anything.
wine_test::Environment missing_temp(const wine_test::TempDir& temp);

// The program's window with this caption; null (and a failure naming what is visible) when it
// does not come.
HWND await_window(test_driver::Process& process, const std::wstring& caption);

// Checks caption, instruction, content and the three command links in the order 100, 101, 2.
void expect_mode_dialog(HWND dialog, const ModeDialogTexts& texts);

// Clicks the button and waits until its window has gone.
void click_and_wait(HWND window, int id);
// Presses the key and waits until the window has gone.
void press_and_wait(HWND window, test_driver::Key key);

// The program ends with `exit_code` and shows no window (other than `ignored`) before it does.
void expect_end_without_window(test_driver::Process& process, std::uint32_t exit_code, HWND ignored = nullptr);

// A failure box: the caption and the text "failed", two line feeds, then the detail, which is
// returned (empty when the window is no failure box).
std::wstring expect_failure_box(HWND box, const ModeDialogTexts& texts);

// What follows the answered mode dialog in a run that fails: the failure box, answered with OK,
// then the end with exit code 1. Returns the box's detail (empty when there was no box).
std::wstring expect_failure_after_dialog(test_driver::Process& process, const ModeDialogTexts& texts);

bool ends_with(std::wstring_view text, std::wstring_view end);

}  // namespace mirel::dialog_test
