#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace mirel {

using Sha256 = std::array<std::byte, 32>;

// The system's SHA-256 of `bytes` (bcrypt.dll, from the system directory only); nothing when the
// system cannot compute it.
[[nodiscard]] std::optional<Sha256> sha256(std::span<const std::byte> bytes);

}  // namespace mirel
