#pragma once

// What the dialog suites look for in the setup program's windows, in both languages.

#include <windows.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "wine_test_support.hpp"

namespace mirel::dialog_test {

struct ModeDialogTexts {
    std::wstring title;
    std::wstring instruction;
    std::wstring content;
    std::wstring basic;     // label, line feed, note
    std::wstring advanced;  // label, line feed, note
    std::wstring cancel;
    std::wstring failed;  // heading of the failure box
};

extern const ModeDialogTexts ENGLISH;
extern const ModeDialogTexts TURKISH;

inline constexpr int BASIC = 100;
inline constexpr int ADVANCED = 101;
inline constexpr int CANCEL = IDCANCEL;

// TMP and TEMP naming a directory that does not exist: any run that gets past the dialog stops
// at its first staging step, so that no test can ever install anything.
wine_test::Environment missing_temp(const wine_test::TempDir& temp);

using wine_test::await_window;
using wine_test::click_and_wait;
using wine_test::expect_end_without_window;
using wine_test::press_and_wait;

// Checks caption, instruction, content and the three command links in the order 100, 101, 2.
void expect_mode_dialog(HWND dialog, const ModeDialogTexts& texts);

// A failure box: the caption, the error icon, the OK button and the text "failed", two line
// feeds, then the detail, which is returned (empty when the window is no failure box).
std::wstring expect_failure_box(HWND box, const ModeDialogTexts& texts);

// What follows the answered mode dialog in a run that fails: the failure box, answered with OK,
// then the end with exit code 1. Returns the box's detail (empty when there was no box).
std::wstring expect_failure_after_dialog(test_driver::Process& process, const ModeDialogTexts& texts);

// One whole run through the dialogs: started with `arguments` and TMP and TEMP naming a folder of
// its own (with `missing_temp`, one that does not exist, so that no run can install anything);
// the mode dialog, in the language of `dialog`, answered with `answer`; then the end with exit
// code 0, or with `failure` the failure box in that language, whose detail must match `detail`
// (a regular expression), and the end with 1. Nothing may stay in the temporary folder.
struct DialogRun {
    const char* name;
    std::vector<std::wstring> arguments;
    const ModeDialogTexts* dialog = nullptr;  // null: no dialog comes
    std::variant<int, test_driver::Key> answer = CANCEL;
    const ModeDialogTexts* failure = nullptr;
    const char* detail = ".+";
    bool missing_temp = false;
    const wchar_t* program = nullptr;  // another image of the build's bin folder
};
void expect_run(const DialogRun& run);

}  // namespace mirel::dialog_test
