#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ui_language.hpp"

namespace mirel {

enum class InstallerOutcome { Installed, InstalledRestart, Cancelled, Failed };

inline constexpr std::string_view LAUNCH_OWNER_PROPERTY = "MIREL_SETUP_LAUNCH_OWNER";

// The engine's arguments: "/i", the package path, "/norestart", "/passive" when passive, and
// "MIREL_SETUP_LAUNCH_OWNER=1".
std::vector<std::string> installer_arguments(std::string_view package_path, bool passive);

InstallerOutcome installer_outcome(std::int32_t exit_code);

}  // namespace mirel
