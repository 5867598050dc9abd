#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace mirel {

// An unsigned 32-bit decimal: one optional leading "+", then ASCII digits only (leading zeros
// allowed), at most 4294967295. Anything else is not a number.
[[nodiscard]] std::optional<std::uint32_t> parse_parent_pid(std::string_view text);

}  // namespace mirel
