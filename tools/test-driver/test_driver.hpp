#pragma once

// Drives a Windows program from outside, the way a user would: starts it, finds its windows,
// reads their texts, presses their buttons, photographs them and reads its exit code. It works
// across processes with documented window messages only, so it observes exactly what a user sees.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirel::test_driver {

// UTF-16 <-> UTF-8 for the driver's own use (reporting, test expectations).
std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);

// One argument appended to a command line so that CommandLineToArgvW gives it back unchanged.
void append_quoted_argument(std::wstring& command_line, std::wstring_view argument);

struct LaunchRequest {
    std::wstring program;                 // a Windows path
    std::vector<std::wstring> arguments;  // kept as UTF-16, so that they may be ill-formed on purpose
    // Added to (or replacing, by name without regard to case) the driver's own environment.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    std::wstring working_directory;  // empty: the driver's own
    bool capture_standard_error = false;
};

// A started program. Destroying it ends the program if it still runs, so that a failed test
// never leaves a dialog waiting for input.
class Process {
public:
    // Starts the program or returns a description of why it could not be started.
    static std::pair<std::unique_ptr<Process>, std::string> start(const LaunchRequest& request);

    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD id() const noexcept { return id_; }
    HANDLE handle() const noexcept { return process_; }
    const std::wstring& command_line() const noexcept { return command_line_; }

    // The full 32-bit exit code once the program has ended within the time, else nothing.
    std::optional<std::uint32_t> wait_for_exit(DWORD timeout_ms);
    bool has_exited() const;
    void terminate();

    // Everything the program wrote to its standard error stream, as bytes; complete once the
    // program has ended (the read side is drained by a thread of its own, so a chatty program
    // never blocks on a full pipe).
    std::string standard_error();

private:
    Process() = default;
    struct ErrorReader;

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    std::wstring command_line_;
    std::unique_ptr<ErrorReader> error_reader_;
};

// How a wait for the program's end came out. A program that shows a window while the caller
// expects it to end would wait for a user that never comes: that window is returned instead.
struct ExitWatch {
    std::optional<std::uint32_t> exit_code;  // the full 32-bit code, when the program ended
    HWND window = nullptr;                   // the window that appeared first, if any
};

// Waits for the program's end, watching for any visible window other than `ignored`.
ExitWatch wait_for_exit_without_window(Process& process, DWORD timeout_ms, HWND ignored = nullptr);

// Visible top-level windows of a process, in Z order.
std::vector<HWND> visible_windows(DWORD process_id);

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
