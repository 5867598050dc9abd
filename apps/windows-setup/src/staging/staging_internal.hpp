#pragma once

// The steps of staging that tests drive on their own: a clock of their choosing for the
// directory names, and the read-back comparison on a file they prepared.

#include <cstdint>
#include <functional>
#include <span>

#include "staging/staging.hpp"

namespace mirel::staging_internal {

// The checks after protection: size, then contents. A failure releases `file` before it returns.
[[nodiscard]] Result<ProtectedFile> verify_protected_file(ProtectedFile file, std::span<const std::byte> bytes);

}  // namespace mirel::staging_internal
