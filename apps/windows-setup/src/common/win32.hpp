#pragma once

// The one home of the program's plain Win32 tasks: text at the call boundary, handle owners,
// operating-system error texts, grow-the-buffer string calls, file-system path forms, whole-buffer
// writes and read-back comparisons. The subsystems keep their rules and the order of their steps;
// the calls live here.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/os.hpp"
#include "common/read_back.hpp"
#include "common/setup_error.hpp"
#include "common/unique_any.hpp"

namespace mirel {

// UTF-8 to a NUL-terminated UTF-16 buffer (`c_str()`), owned by the caller during the call.
[[nodiscard]] std::wstring to_wide(std::string_view text);

// UTF-16 from Windows to UTF-8, unpaired surrogates becoming U+FFFD.
[[nodiscard]] std::string from_wide(std::wstring_view text);

// The process's arguments as UTF-8, the program path dropped; the system's error when the command
// line cannot be split (out of memory).
[[nodiscard]] Result<std::vector<std::string>> process_arguments();

// Keeps the thread's last error across a scope that may change it. Owners close their handles
// inside one, so that a failed call's error survives the clean-up on the way out.
class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : error_(os::GetLastError()) {}
    ~LastErrorKeeper() { os::SetLastError(error_); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD error_;
};

struct HandleTraits {
    using pointer = HANDLE;
    static pointer empty() noexcept { return nullptr; }
    // Both values mean "no handle": CreateFileW fails with INVALID_HANDLE_VALUE, most others null.
    static bool is_empty(pointer h) noexcept { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept {
        const LastErrorKeeper keep;
        os::CloseHandle(h);
    }
};
using UniqueHandle = UniqueAny<HandleTraits>;

// The system's message for an error code, from the message table of `source` (when given) or the
// system's; empty (with the thread's last error set) when there is none.
[[nodiscard]] std::wstring system_message(DWORD code, HMODULE source = nullptr);

// "message (os error N)" for a Windows error code, or the fallback form without a message.
[[nodiscard]] std::string os_error_text(DWORD code);
[[nodiscard]] SetupError os_error(DWORD code);
[[nodiscard]] inline SetupError last_os_error() {
    return os_error(os::GetLastError());
}

// The calls that fill a caller's buffer with a string: `query(buffer, units)` returns the length
// without the terminator when the string fit, else the units it needs (or at least as many as it
// was given); 0 is a failure, with the thread's last error set. Calls it with a growing buffer.
template <typename Query>
[[nodiscard]] std::optional<std::wstring> query_string(Query&& query, std::size_t first_units = MAX_PATH + 1) {
    std::wstring buffer(first_units, L'\0');
    for (;;) {
        const std::size_t length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length > buffer.size() ? length : buffer.size() * 2);
    }
}

// The system directory (System32) and the system's Windows directory, the only places that
// the program starts other programs from.
[[nodiscard]] std::optional<std::wstring> system_directory();
[[nodiscard]] std::optional<std::wstring> system_windows_directory();

// The form of a UTF-8 path that file-system calls get: unchanged when it is a short
// drive-absolute or UNC path, otherwise made absolute and given the "\\?\" prefix.
[[nodiscard]] std::wstring file_system_path(std::string_view path);

// Writes all of `bytes` at the file's position, in as few calls as the system allows; false, with
// the thread's last error set, when a call fails or writes nothing.
[[nodiscard]] bool write_all(HANDLE file, std::span<const std::byte> bytes);

// Reads the file from its position in pieces of `chunk_size` bytes and compares it with `bytes`
// (see compare_read_back).
[[nodiscard]] ReadBack compare_file_with(HANDLE file, std::span<const std::byte> bytes, std::size_t chunk_size);

// What tells a file or directory from every other on the machine, whatever its name: the volume's
// serial number and the file's 128-bit id (64-bit ids are not unique on ReFS).
struct FileId {
    std::uint64_t volume = 0;
    std::array<std::byte, 16> file{};
    bool operator==(const FileId&) const = default;
};
// The identity of what the handle is open on. A file system that knows no 128-bit ids gives its
// 64-bit one, which is then unique; any other failure gives none, with the thread's last error set.
[[nodiscard]] std::optional<FileId> file_identity(HANDLE handle);

struct FileFacts {
    std::uint64_t size = 0;
    DWORD attributes = 0;
    DWORD links = 0;  // the names it has: more than one for a hard link
};
[[nodiscard]] std::optional<FileFacts> file_facts(HANDLE file);

// The path the system knows for what `handle` is open on, links and short names resolved, in its
// long form ("\\?\C:\..." or "\\?\UNC\...").
[[nodiscard]] std::optional<std::wstring> final_path(HANDLE handle);

// The path with each component in its short (8.3) form where the volume keeps one; the system's
// error otherwise.
[[nodiscard]] std::expected<std::wstring, DWORD> short_path(const std::wstring& path);

// True when the file's attributes hold every bit of `required` and none of `forbidden`; false when
// they cannot be read.
[[nodiscard]] bool has_attributes(HANDLE file, DWORD required, DWORD forbidden);

inline constexpr WORD SETUP_ICON_ID = 32512;

// The program's own icon group 32512; shared by the system and never destroyed.
[[nodiscard]] Result<HICON> load_setup_icon();

}  // namespace mirel
