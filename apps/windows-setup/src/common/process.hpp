#pragma once

#include <cstdint>
#include <string>

#include "common/os.hpp"
#include "common/setup_error.hpp"

namespace mirel {

// How to start a child process.
struct ChildStart {
    std::wstring program;                  // the program file, in the form file-system calls take
    std::wstring command_line;             // the whole command line, the program first
    std::wstring current_directory;        // empty: this process's own
    const wchar_t* environment = nullptr;  // a Unicode environment block; null: this process's own
    DWORD flags = 0;                       // creation flags besides CREATE_UNICODE_ENVIRONMENT
    // Hands the child this process's standard handles. No other handle is ever inherited.
    bool pass_standard_handles = false;
    // When given, the child's standard output and error go through a pipe into this text (the
    // first CHILD_OUTPUT_LIMIT bytes), in place of any standard handle of this process.
    std::string* output = nullptr;
};

inline constexpr std::size_t CHILD_OUTPUT_LIMIT = 64 * 1024;

// True while a process with this id runs that was started no later than `filetime` (a FILETIME
// value); false once there is none, it has ended, or the id belongs to a process started later.
// A process that may not be looked at is taken to run.
[[nodiscard]] bool process_running_since(DWORD process_id, std::uint64_t filetime);

// Starts the child, waits for its end without a time limit and returns its exit code; the
// operating-system error of the step that failed otherwise.
[[nodiscard]] Result<std::uint32_t> run_child_and_wait(const ChildStart& child);

}  // namespace mirel
