#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mirel {

// FILETIME counts 100-nanosecond units since 1601-01-01; this is its value at 1970-01-01 UTC.
inline constexpr std::uint64_t UNIX_EPOCH_AS_FILETIME = 116'444'736'000'000'000;

// Wider than 64 bits: the largest FILETIME in nanoseconds needs 71.
__extension__ typedef unsigned __int128 Nanoseconds;

// Nanoseconds since 1970-01-01 UTC of a FILETIME value; none for a time before 1970.
[[nodiscard]] std::optional<Nanoseconds> unix_nanoseconds(std::uint64_t filetime);

// Unsigned decimal, no leading zeros.
[[nodiscard]] std::string decimal_text(Nanoseconds value);

// "MirelSetup-<pid>-<nanoseconds>-<attempt>".
[[nodiscard]] std::string staging_directory_name(std::uint32_t process_id, Nanoseconds time, std::uint32_t attempt);

}  // namespace mirel
