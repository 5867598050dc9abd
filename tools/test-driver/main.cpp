// mirel-test-driver.exe: runs a Windows program under the driver, step by step, and prints what
// it saw. Shell scripts (demos, manual checks) use it; the GoogleTest suites use the library.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "test_driver.hpp"

namespace td = mirel::test_driver;

namespace {

constexpr const char* USAGE =
    "usage: mirel-test-driver.exe [OPTION]... [STEP]... -- PROGRAM [ARGUMENT]...\n"
    "options:\n"
    "  --env NAME=VALUE        set a variable in the program's environment (repeatable)\n"
    "  --cwd DIR               the program's working directory\n"
    "  --timeout-ms N          how long a step waits for its window (default 15000)\n"
    "  --exit-timeout-ms N     how long to wait for the program's end (default 120000)\n"
    "  --screenshot-dir DIR    save every expected window as DIR\\NN.bmp (01.bmp, 02.bmp, ...)\n"
    "  --stderr                read the program's standard error through a pipe and print it\n"
    "  --expect-exit N         end with 1 unless the program's exit code is N (unsigned decimal)\n"
    "steps, run in order:\n"
    "  --expect CAPTION        wait for a visible window of the program with exactly this caption\n"
    "  --expect-any            wait for any visible window of the program\n"
    "  --press ID              click the current window's button ID (BM_CLICK)\n"
    "  --key NAME              press return, escape, alt+f4, down, up or tab in the current window\n"
    "  --shot NAME             save the current window as DIR\\NAME.bmp (a path with '\\' or ':' as is)\n"
    "  --screen NAME           the same for the whole screen\n"
    "After the steps the driver waits for the program's end; a window that appears meanwhile is\n"
    "reported and fails the run. The last line is \"exit-code N\", the program's full 32-bit exit\n"
    "code as an unsigned decimal. The driver's own exit code: 0 done, 1 other exit code than\n"
    "--expect-exit, 2 a step failed or the program did not end, 3 bad usage or start failure.\n";

void out(const std::string& text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

struct Step {
    std::wstring name;
    std::wstring value;
};

struct Options {
    td::LaunchRequest request;
    DWORD timeout_ms = 15000;
    DWORD exit_timeout_ms = 120000;
    std::wstring screenshot_dir;
    std::optional<std::uint32_t> expected_exit;
    std::vector<Step> steps;
};

std::optional<std::uint32_t> number(const std::wstring& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<Options> parse(int argc, wchar_t** argv) {
    Options options;
    int i = 1;
    const auto value = [&](std::wstring& target) {
        if (i + 1 >= argc) return false;
        target = argv[++i];
        return true;
    };
    for (; i < argc; ++i) {
        const std::wstring argument = argv[i];
        std::wstring text;
        if (argument == L"--") {
            ++i;
            break;
        }
        if (argument == L"--stderr") {
            options.request.capture_standard_error = true;
        } else if (argument == L"--expect-any") {
            options.steps.push_back({argument, {}});
        } else if (!value(text)) {
            return std::nullopt;
        } else if (argument == L"--env") {
            const std::size_t equals = text.find(L'=', 1);
            if (equals == std::wstring::npos) return std::nullopt;
            options.request.environment.emplace_back(text.substr(0, equals), text.substr(equals + 1));
        } else if (argument == L"--cwd") {
            options.request.working_directory = text;
        } else if (argument == L"--timeout-ms" || argument == L"--exit-timeout-ms" || argument == L"--expect-exit") {
            const auto parsed = number(text);
            if (!parsed) return std::nullopt;
            if (argument == L"--timeout-ms") options.timeout_ms = *parsed;
            if (argument == L"--exit-timeout-ms") options.exit_timeout_ms = *parsed;
            if (argument == L"--expect-exit") options.expected_exit = *parsed;
        } else if (argument == L"--screenshot-dir") {
            options.screenshot_dir = text;
        } else if (argument == L"--expect" || argument == L"--press" || argument == L"--key" ||
                   argument == L"--shot" || argument == L"--screen") {
            if (argument == L"--press" && !number(text)) return std::nullopt;
            if (argument == L"--key" && !td::key_from_name(td::narrow(text))) return std::nullopt;
            options.steps.push_back({argument, text});
        } else {
            return std::nullopt;
        }
    }
    if (i >= argc) return std::nullopt;
    options.request.program = argv[i++];
    for (; i < argc; ++i) options.request.arguments.emplace_back(argv[i]);
    return options;
}

std::wstring shot_path(const Options& options, const std::wstring& name) {
    if (name.find_first_of(L"\\:") != std::wstring::npos) return name;
    std::wstring path = options.screenshot_dir.empty() ? L"." : options.screenshot_dir;
    if (path.back() != L'\\' && path.back() != L'/') path.push_back(L'\\');
    return path + name + L".bmp";
}

void shoot(HWND window, const std::wstring& path) {
    const std::string error = td::save_screenshot(window, path);
    out(error.empty() ? "screenshot " + td::narrow(path) + "\n" : "error: screenshot " + td::narrow(path) + ": " + error + "\n");
}

// On a failed step: show what the program does show, photograph the screen when asked, end it.
int give_up(td::Process& process, const Options& options, const std::string& reason) {
    out("error: " + reason + "\n");
    for (HWND window : td::visible_windows(process.id())) out("visible " + td::describe_window(window));
    if (!options.screenshot_dir.empty()) shoot(nullptr, shot_path(options, L"failure"));
    process.terminate();
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::optional<Options> parsed = parse(argc, argv);
    if (!parsed) {
        out(USAGE);
        return 3;
    }
    const Options& options = *parsed;
    auto started = td::Process::start(options.request);
    if (!started) {
        out("error: " + started.error().text() + "\n");
        return 3;
    }
    const std::unique_ptr<td::Process> process = std::move(*started);
    out("started pid " + std::to_string(process->id()) + ": " + td::narrow(process->command_line()) + "\n");

    HWND current = nullptr;
    int shots = 0;
    for (const Step& step : options.steps) {
        if (step.name == L"--expect" || step.name == L"--expect-any") {
            current = step.name == L"--expect" ? td::wait_for_window(process->id(), step.value, options.timeout_ms)
                                                : td::wait_for_any_window(process->id(), options.timeout_ms);
            if (current == nullptr) {
                return give_up(*process, options, "no window \"" + td::escape(step.value) + "\" within " +
                                                      std::to_string(options.timeout_ms) + " ms");
            }
            td::settle(process->handle(), current);
            out(td::describe_window(current));
            if (!options.screenshot_dir.empty()) {
                wchar_t name[16];
                std::swprintf(name, 16, L"%02d", ++shots);
                shoot(current, shot_path(options, name));
            }
        } else if (step.name == L"--shot" || step.name == L"--screen") {
            if (step.name == L"--shot" && current == nullptr) return give_up(*process, options, "no current window");
            td::settle(process->handle(), current);
            shoot(step.name == L"--shot" ? current : nullptr, shot_path(options, step.value));
        } else if (step.name == L"--press") {
            const int id = static_cast<int>(*number(step.value));
            if (current == nullptr || !td::click_button(current, id)) {
                return give_up(*process, options, "no button " + td::narrow(step.value) + " to press");
            }
            out("pressed " + td::narrow(step.value) + "\n");
            if (!td::wait_for_window_gone(current, options.timeout_ms)) {
                return give_up(*process, options, "the window stayed after pressing " + td::narrow(step.value));
            }
            current = nullptr;
        } else if (step.name == L"--key") {
            const td::Key key = *td::key_from_name(td::narrow(step.value));
            if (current == nullptr || !td::press_key(current, key)) {
                return give_up(*process, options, "cannot press " + td::narrow(step.value));
            }
            out("key " + td::narrow(step.value) + "\n");
            if (key == td::Key::Return || key == td::Key::Escape || key == td::Key::AltF4) {
                if (!td::wait_for_window_gone(current, options.timeout_ms)) {
                    return give_up(*process, options, "the window stayed after " + td::narrow(step.value));
                }
                current = nullptr;
            }
        }
    }

    // Waiting for the end: any window now would wait for a user that never comes.
    const td::ExitWatch end = td::wait_for_exit_without_window(*process, options.exit_timeout_ms, current);
    if (end.window != nullptr) {
        td::settle(process->handle(), end.window);
        out(td::describe_window(end.window));
        return give_up(*process, options, "a further window appeared");
    }
    if (!end.exit_code) return give_up(*process, options, "the program did not end in time");
    const std::uint32_t exit_code = *end.exit_code;
    if (options.request.capture_standard_error) {
        const std::string error_text = process->standard_error();
        out("stderr \"" + td::escape(td::widen(error_text)) + "\"\n");
    }
    out("exit-code " + std::to_string(exit_code) + "\n");
    if (options.expected_exit && *options.expected_exit != exit_code) return 1;
    return 0;
}
