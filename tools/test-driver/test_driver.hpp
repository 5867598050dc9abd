#pragma once

// Drives a Windows program from outside, the way a user would: starts it, finds its windows,
// reads their texts, presses their buttons, photographs them and reads its exit code. It works
// across processes with documented window messages only, so it observes exactly what a user sees.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process.hpp"

namespace mirel::test_driver {

// The driver starts and watches programs with the tests' process helper.
using wine_test::LaunchRequest;
using wine_test::narrow;
using wine_test::Process;
using wine_test::widen;

// How a wait for the program's end came out. A program that shows a window while the caller
// expects it to end would wait for a user that never comes: that window is returned instead.
struct ExitWatch {
    std::optional<std::uint32_t> exit_code;  // the full 32-bit code, when the program ended
    HWND window = nullptr;                   // the window that appeared first, if any
};

// Waits for the program's end, watching for any visible window other than `ignored`: of the
// program alone, or with `whole_tree` also of every process that it started, directly or not.
ExitWatch wait_for_exit_without_window(Process& process, DWORD timeout_ms, HWND ignored = nullptr,
                                       bool whole_tree = false);

// Visible top-level windows of a process, in Z order.
std::vector<HWND> visible_windows(DWORD process_id);

// The same of a process and of every running process that it started, directly or not.
std::vector<HWND> visible_windows_of_tree(DWORD process_id);

// The first visible top-level window of the process whose caption equals `caption` exactly,
// waiting up to `timeout_ms` for it to appear. Null on time-out.
HWND wait_for_window(DWORD process_id, std::wstring_view caption, DWORD timeout_ms);

// Any visible top-level window of the process, waiting up to `timeout_ms`. Null on time-out.
HWND wait_for_any_window(DWORD process_id, DWORD timeout_ms);

// Waits until the window is gone or hidden; false on time-out.
bool wait_for_window_gone(HWND window, DWORD timeout_ms);

std::wstring window_text(HWND window);
std::wstring class_name(HWND window);

struct Control {
    HWND window = nullptr;
    int id = 0;
    std::wstring class_name;
    std::wstring text;  // for a command link: label, a line feed and the note when it has one
    bool visible = false;
};

// The direct child controls of a dialog, in creation (tab) order.
std::vector<Control> controls(HWND dialog);

// A message box's text: its static control 65535. Nothing when the window has no such control.
std::optional<std::wstring> message_box_text(HWND box);

// The standard icon that a message box shows. A box's icon is a static control whose icon handle
// means nothing in another process under Wine, so the icon is told by its pixels on the screen:
// they must equal one of the system's icons drawn on the box's background. Waits up to
// `timeout_ms` for the box to be painted; Other when no system icon matches.
enum class BoxIcon { None, Error, Warning, Information, Question, Other };
BoxIcon message_box_icon(HWND box, DWORD timeout_ms = 5000);

// The buttons of a dialog (class "Button"), with their texts.
std::vector<Control> buttons(HWND dialog);

// The text of a command link, label and note joined by a line feed as the task dialog was
// given them; an ordinary button gives its text.
std::wstring button_text(HWND button, DWORD process_id);

// Clicks the child button with this id (BM_CLICK). False when there is no such button.
bool click_button(HWND dialog, int id);

enum class Key { Return, Escape, AltF4, Down, Up, Tab };
std::optional<Key> key_from_name(std::string_view name);

// Delivers a key press to the window's focused control through its message queue, the same
// messages that the keyboard produces; works without a window manager or input focus.
bool press_key(HWND window, Key key);

// Waits until the program is idle (its windows painted). Used before photographs.
void settle(HANDLE process, HWND window);

// A 24-bit BMP of the window's screen area (null window: the whole screen). Returns an error
// description, empty on success.
std::string save_screenshot(HWND window, const std::wstring& bmp_path);

// One line describing the window and every control, for logs and for the CLI's report.
std::string describe_window(HWND window);

// A text made printable on one line: \n, \r, \t, \\ and \" escaped, other controls as \xNN.
std::string escape(std::wstring_view text);

}  // namespace mirel::test_driver
