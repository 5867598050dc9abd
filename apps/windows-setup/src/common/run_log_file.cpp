#include "common/run_log_file.hpp"

#include <array>
#include <span>

#include "common/held_files.hpp"
#include "common/held_path.hpp"
#include "common/run_log.hpp"

namespace mirel {
namespace {

constexpr std::size_t ELAPSED_WIDTH = 7;
constexpr std::size_t COPY_CHUNK_SIZE = 32768;

// The log stays open for the rest of the process, and so do the directories above it; the system
// closes them at the end.
HANDLE log_file = INVALID_HANDLE_VALUE;
std::vector<UniqueHandle> log_directories;
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

Result<HeldLogFile> open_log_file(std::string_view path, LogWrite how, std::string_view topic) {
    ASSIGN_OR_RETURN(std::vector<UniqueHandle> ancestors, hold_ancestors(path, topic, ErrorCode::RunLogRefused));
    const HANDLE parent = ancestors.back().get();
    const std::wstring name = to_wide(path.substr(path.find_last_of("\\/") + 1));
    // First the name as itself, with an open that takes no part in sharing: what is it?
    const std::expected<UniqueHandle, DWORD> seen =
        open_in_directory(parent, name,
                          {FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN_IF,
                           FILE_NON_DIRECTORY_FILE});
    if (!seen) return fail(os_error(seen.error()));
    const std::optional<FileFacts> seen_facts = file_facts(seen->get());
    if (!seen_facts) return fail(last_os_error());
    const std::optional<FileId> checked = file_identity(seen->get());
    if (!checked) return fail(last_os_error());
    const bool reparse_point = (seen_facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (reparse_point && redirects(seen->get())) {
        log_event(topic, {path, " is a link, which is never written through"});
        return fail(ErrorCode::RunLogRefused);
    }
    // Then for writing, shared for reading only: a reader may follow the log, nobody may write,
    // move or delete it. A placeholder (a file kept "on demand" by a cloud service) is opened
    // through the file system that fills it in. Either way it must be the file that was checked.
    const ACCESS_MASK writing = how == LogWrite::Append ? FILE_APPEND_DATA : FILE_WRITE_DATA;
    std::expected<UniqueHandle, DWORD> file = open_in_directory(
        parent, name,
        {writing | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, nullptr, reparse_point});
    if (!file) return fail(os_error(file.error()));
    const std::optional<FileFacts> facts = file_facts(file->get());
    if (!facts) return fail(last_os_error());
    const std::optional<FileId> reached = file_identity(file->get());
    if (!reached) return fail(last_os_error());
    if (*reached != *checked || ((facts->attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && redirects(file->get()))) {
        log_event(topic, {path, " was put in another file's place while it was opened"});
        return fail(ErrorCode::RunLogRefused);
    }
    if (facts->links != 1) {
        log_event(topic, {path, " has ", facts->links, " names (hard links): another could be anybody's file"});
        return fail(ErrorCode::RunLogRefused);
    }
    if (how == LogWrite::Replace) {
        FILE_END_OF_FILE_INFO empty{};
        if (!os::SetFileInformationByHandle(file->get(), FileEndOfFileInfo, &empty, sizeof empty))
            return fail(last_os_error());
    }
    return HeldLogFile{std::move(ancestors), std::move(*file)};
}

Result<std::string> open_run_log(std::string_view path) {
    const std::wstring wide = to_wide(path);
    const std::optional<std::wstring> full = query_string(
        [&](wchar_t* buffer, DWORD units) { return os::GetFullPathNameW(wide.c_str(), units, buffer, nullptr); });
    if (!full) return fail(last_os_error());
    std::string full_path = from_wide(*full);
    ASSIGN_OR_RETURN(HeldLogFile held, open_log_file(full_path, LogWrite::Append, "log"));
    log_file = held.file.release();
    log_directories = std::move(held.ancestors);
    opened_at = now();
    set_run_log_sink(write_line, [](std::uint32_t code) { return os_error_text(code); });
    return full_path;
}

std::optional<std::string> copy_engine_log(HANDLE staging_directory, const std::optional<std::string>& run_log) {
    if (!run_log) return std::nullopt;
    std::string copy = *run_log + std::string(ENGINE_LOG_SUFFIX);
    // The engine may still have it open for writing for a moment after it has ended.
    const std::expected<UniqueHandle, DWORD> source =
        open_in_directory(staging_directory, to_wide(ENGINE_LOG_NAME),
                          {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_NON_DIRECTORY_FILE});
    if (!source) {
        log_event("engine", {"its own log cannot be read: ", LogPart::os_error(source.error())});
        return std::nullopt;
    }
    const Result<HeldLogFile> target = open_log_file(copy, LogWrite::Replace, "engine");
    if (!target) {
        log_event("engine", {"its own log not copied to ", copy, ": ", LogPart::error(target.error())});
        return std::nullopt;
    }
    std::array<std::byte, COPY_CHUNK_SIZE> buffer;
    std::uint64_t copied = 0;
    for (;;) {
        DWORD read = 0;
        if (!os::ReadFile(source->get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) ||
            (read > 0 && !write_all(target->file.get(), std::span(buffer.data(), read)))) {
            log_event("engine", {"its own log copied to ", copy, " only in part, ", copied,
                                 " bytes: ", LogPart::os_error(os::GetLastError())});
            return std::nullopt;
        }
        if (read == 0) break;
        copied += read;
    }
    log_event("engine", {"its own log copied to ", copy, ", ", copied, " bytes"});
    return copy;
}

}  // namespace mirel
