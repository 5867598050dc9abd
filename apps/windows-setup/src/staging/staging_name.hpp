#pragma once

#include <cstddef>
#include <cstdint>
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

// The form of a staging directory's path to hand to other programs, in UTF-16 units: `full` when
// a file name of `longest_name` units inside it stays under the limit, else its short form (asked
// for only then; none where the volume keeps no short names) when that does; none when neither does.
[[nodiscard]] std::optional<std::u16string> handed_directory_path(
    std::u16string_view full, const std::function<std::optional<std::u16string>()>& short_form,
    std::size_t longest_name);

}  // namespace mirel
