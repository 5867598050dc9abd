#pragma once

#include "common/setup_error.hpp"

namespace mirel {

// Writes both embedded packages into a directory of its own and checks every package rule on
// each, English first. Leaves nothing behind.
Status inspect_packages();

}  // namespace mirel
