#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/filetime.hpp"

namespace mirel {

// Wider than 64 bits: the largest FILETIME in nanoseconds needs 71.
__extension__ typedef unsigned __int128 Nanoseconds;

// Nanoseconds since 1970-01-01 UTC of a FILETIME value; none for a time before 1970.
[[nodiscard]] std::optional<Nanoseconds> unix_nanoseconds(std::uint64_t filetime);

// Unsigned decimal, no leading zeros.
[[nodiscard]] std::string decimal_text(Nanoseconds value);

// "MirelSetup-<pid>-<nanoseconds>-<attempt>".
[[nodiscard]] std::string staging_directory_name(std::uint32_t process_id, Nanoseconds time, std::uint32_t attempt);

struct StagingNameParts {
    std::uint32_t process_id = 0;
    Nanoseconds time = 0;
    std::uint32_t attempt = 0;
};

// The parts of a name exactly as staging_directory_name writes them (a whole number of
// 100-nanosecond units, an attempt below `attempts`); none for any other name, however similar.
[[nodiscard]] std::optional<StagingNameParts> parse_staging_directory_name(std::string_view name,
                                                                           std::uint32_t attempts);

// Windows Installer and the signature verifier take no path of MAX_PATH units or more,
// terminator included.
inline constexpr std::size_t HANDED_PATH_LIMIT = 260;

// ERROR_FILENAME_EXCED_RANGE: the name is too long.
inline constexpr std::uint32_t FILENAME_TOO_LONG = 206;

// The form of a staging directory's path to hand to other programs, in UTF-16 units: `full` when
// a file name of `longest_name` units inside it stays under the limit, else its short form (asked
// for only then) when that does. The short form's own error when it cannot be had; otherwise, when
// neither fits (a volume that keeps no short names gives the full path again), FILENAME_TOO_LONG.
[[nodiscard]] std::expected<std::u16string, std::uint32_t> handed_directory_path(
    std::u16string_view full, const std::function<std::expected<std::u16string, std::uint32_t>()>& short_form,
    std::size_t longest_name);

}  // namespace mirel
