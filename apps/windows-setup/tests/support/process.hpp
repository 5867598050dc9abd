#pragma once

// Starting a program and watching it: the one way the tests, the test driver, the stand-ins and
// the benchmarks start a process. Plain Win32 and the standard library, so that any program of
// the build may link it.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirel::wine_test {

std::wstring widen(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string narrow(std::wstring_view text);

// Appends one argument so that CommandLineToArgvW gives it back unchanged.
void append_quoted_argument(std::wstring& command_line, std::wstring_view argument);

// The variable's value in this process; nothing when it is not set.
std::optional<std::wstring> environment_variable(const wchar_t* name);

using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

struct LaunchRequest {
    std::wstring program;                 // a Windows path
    std::vector<std::wstring> arguments;  // kept as UTF-16, so that they may be ill-formed on purpose
    // Put in place of the inherited variables of the same names (without regard to case); all of
    // them are kept, even two of one name.
    Environment environment;
    std::vector<std::wstring> removed_environment;  // inherited variables left out
    std::wstring working_directory;                 // empty: the caller's own
    bool capture_standard_output = false;
    bool capture_standard_error = false;
    bool no_console_window = false;  // CREATE_NO_WINDOW, as the setup program starts its console children
};

// Why a program did not start. The text names the operating system's error as "os error N": the
// test rig knows Wine's occasional refused start (1359) by it.
struct StartFailure {
    std::wstring program;
    DWORD os_error = 0;
    std::string text() const;
};

// A started program. Destroying it ends the program if it still runs, so that a failed test never
// leaves a dialog waiting for input.
class Process {
public:
    static std::expected<std::unique_ptr<Process>, StartFailure> start(const LaunchRequest& request);

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

    // What the program wrote to a captured stream, as bytes; complete once it has ended. The pipes
    // are emptied while the caller waits, so that a chatty program never blocks on a full one.
    std::string standard_output();
    std::string standard_error();

private:
    struct Pipe {
        HANDLE read = nullptr;  // null: the stream is not captured
        std::string bytes;
        ~Pipe();
        bool open(HANDLE& child_end);
        void drain();
    };
    Process() = default;
    void drain();

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    std::wstring command_line_;
    Pipe output_;
    Pipe error_;
};

}  // namespace mirel::wine_test
