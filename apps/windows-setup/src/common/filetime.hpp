#pragma once

#include <cstdint>

namespace mirel {

// FILETIME counts 100-nanosecond units since 1601-01-01; this is its value at 1970-01-01 UTC.
inline constexpr std::uint64_t UNIX_EPOCH_AS_FILETIME = 116'444'736'000'000'000;

}  // namespace mirel
