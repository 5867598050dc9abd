#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirel {

[[nodiscard]] constexpr bool is_path_separator(char c) {
    return c == '\\' || c == '/';
}

// Joins two path parts with one backslash, adding none when `left` already ends in a separator.
[[nodiscard]] std::string join_path(std::string_view left, std::string_view right);

// The longest path (terminator included) that file-system calls get without the "\\?\" prefix.
constexpr std::size_t SHORT_PATH_LIMIT = 248;

// True for a drive-absolute ("C:\...") or UNC ("\\server\...") path short enough to pass as is.
[[nodiscard]] bool passes_unprefixed(std::u16string_view path);

// True for a path that already names the device namespace ("\\?\..." or "\\.\...").
[[nodiscard]] bool is_device_path(std::u16string_view path);

// Gives an absolute path its long form: "\\?\C:\..." or, for "\\server\share", "\\?\UNC\server\share".
[[nodiscard]] std::u16string long_path_form(std::u16string_view absolute_path);

// The drive-letter or UNC form of a path that the system gave in its long form ("\\?\C:\x" gives
// "C:\x", "\\?\UNC\server\share\x" gives "\\server\share\x"); a path without the prefix as it is.
// None for a device path that only the long form can name, such as a volume without a drive letter.
[[nodiscard]] std::optional<std::u16string> drive_or_unc_form(std::u16string_view path);

}  // namespace mirel
