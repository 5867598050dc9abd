#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirel {

// The directories above a file, root first and ending with the file's own directory:
// for "C:\Temp\d\en.msi" these are "C:\", "C:\Temp" and "C:\Temp\d". The path must be absolute
// (drive, UNC or device form) and name something below its root. Empty, "." and ".." components
// are refused rather than interpreted, so that the directories opened are exactly those that the
// file's own open walks through.
[[nodiscard]] std::optional<std::vector<std::string>> path_ancestors(std::string_view path);

}  // namespace mirel
