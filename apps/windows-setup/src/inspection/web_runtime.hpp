#pragma once

#include <string_view>

#include "common/setup_error.hpp"

namespace mirel {

// The package carries a Microsoft-signed web runtime installer and does not download one: the
// carried copy is extracted into a directory of its own, verified on disk and checked by the
// system's PowerShell. Leaves nothing behind.
[[nodiscard]] Status check_web_runtime(std::string_view package_path);

}  // namespace mirel
