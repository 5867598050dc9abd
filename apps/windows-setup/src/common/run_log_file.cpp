#include "common/run_log_file.hpp"

#include <span>

#include "common/run_log.hpp"
#include "common/win32.hpp"

namespace mirel {
namespace {

constexpr std::size_t ELAPSED_WIDTH = 7;

// The log stays open for the rest of the process; the system closes it at the end.
HANDLE log_file = INVALID_HANDLE_VALUE;
std::uint64_t opened_at = 0;

std::uint64_t now() {
    FILETIME time{};
    os::GetSystemTimePreciseAsFileTime(&time);
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

void write_line(std::string_view topic, std::string_view text) {
    // Logging never changes what the run sees, not even its last error.
    const LastErrorKeeper keep;
    const std::uint64_t time = now();
    std::string line = utc_timestamp(time);
    const std::string elapsed = std::to_string((time - opened_at) / 10'000);
    line.append(elapsed.size() < ELAPSED_WIDTH ? ELAPSED_WIDTH - elapsed.size() + 1 : 1, ' ');
    line.append(elapsed).append(" ms  ").append(topic).append(": ").append(text).append("\r\n");
    // One write a line: appended whole, and kept by the system even if this process is killed
    // right after. A full disk loses the line and nothing else.
    static_cast<void>(write_all(log_file, std::as_bytes(std::span(line))));
}

}  // namespace

Result<std::string> open_run_log(std::string_view path) {
    const std::wstring wide = to_wide(path);
    const std::optional<std::wstring> full = query_string(
        [&](wchar_t* buffer, DWORD units) { return os::GetFullPathNameW(wide.c_str(), units, buffer, nullptr); });
    if (!full) return fail(last_os_error());
    const std::string full_path = from_wide(*full);
    // A link at the log's name would make this run, with its rights, append wherever the link
    // leads: the name is opened as itself, and refused when it is one.
    UniqueHandle file(os::CreateFileW(file_system_path(full_path).c_str(),
                                      FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return fail(last_os_error());
    const std::optional<FileFacts> facts = file_facts(file.get());
    if (!facts) return fail(last_os_error());
    if ((facts->attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return fail(os_error(ERROR_ACCESS_DENIED));
    log_file = file.release();
    opened_at = now();
    set_run_log_sink(write_line, [](std::uint32_t code) { return os_error_text(code); });
    return full_path;
}

}  // namespace mirel
