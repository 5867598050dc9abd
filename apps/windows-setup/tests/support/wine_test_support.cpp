#include "wine_test_support.hpp"

#include <gtest/gtest.h>

namespace mirel::wine_test {

namespace td = test_driver;

std::wstring setup_program() {
    return environment_variable(L"MIREL_SETUP_PROGRAM").value_or(windows_path(MIREL_SETUP_PROGRAM));
}

std::wstring built_program(std::wstring_view file_name) {
    return windows_path(MIREL_PROGRAM_DIR) + L"\\" + std::wstring(file_name);
}

Environment temp_environment(const std::wstring& directory) {
    return {{L"TMP", directory}, {L"TEMP", directory}};
}

std::unique_ptr<Process> start_setup(std::vector<std::wstring> arguments, Environment environment,
                                     bool capture_standard_error, std::wstring program) {
    LaunchRequest request;
    request.program = program.empty() ? setup_program() : std::move(program);
    request.arguments = std::move(arguments);
    request.environment = std::move(environment);
    request.capture_standard_error = capture_standard_error;
    return start_process(request);
}

HWND await_window(Process& process, const std::wstring& caption, DWORD timeout_ms) {
    HWND window = td::wait_for_window(process.id(), caption, timeout_ms);
    if (window == nullptr) {
        std::string visible;
        for (HWND shown : td::visible_windows(process.id())) visible += td::describe_window(shown);
        ADD_FAILURE() << "no window \"" << narrow(caption) << "\"; "
                      << (process.has_exited() ? "the program has ended; " : "")
                      << (visible.empty() ? "no window is visible" : visible);
    }
    return window;
}

namespace {

// True once the window has gone after `done`; else a failure of the calling test.
bool gone_after(HWND window, bool done, const std::string& what) {
    if (done && td::wait_for_window_gone(window, WINDOW_TIMEOUT_MS)) return true;
    ADD_FAILURE() << (done ? "the window stayed after " : "cannot use ") << what;
    return false;
}

}  // namespace

bool click_and_wait(HWND window, int id) {
    return gone_after(window, td::click_button(window, id), "button " + std::to_string(id));
}

bool press_and_wait(HWND window, td::Key key) {
    return gone_after(window, td::press_key(window, key), "the key");
}

void expect_end_without_window(Process& process, std::uint32_t exit_code, HWND ignored, DWORD timeout_ms,
                               bool whole_tree) {
    const td::ExitWatch end = td::wait_for_exit_without_window(process, timeout_ms, ignored, whole_tree);
    if (end.window != nullptr) {
        td::settle(process.handle(), end.window);
        ADD_FAILURE() << "a further window appeared: " << td::describe_window(end.window);
        return;
    }
    ASSERT_TRUE(end.exit_code.has_value()) << "the program did not end";
    EXPECT_EQ(*end.exit_code, exit_code);
}

}  // namespace mirel::wine_test
