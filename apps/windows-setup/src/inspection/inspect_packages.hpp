#pragma once

#include <span>

#include "common/setup_error.hpp"
#include "staging/payloads.hpp"

namespace mirel {

// Writes both embedded packages into a directory of its own and checks every package rule on
// each, English first. Leaves nothing behind.
[[nodiscard]] Status inspect_packages();

// The same inspection of the given packages, in their order, without the program's icon check.
[[nodiscard]] Status inspect_payloads(std::span<const Payload> payloads);

}  // namespace mirel
