#pragma once

// Windows Installer access for the package rules: the opened package and the msi.dll-backed
// PackageQueries.

#include <string_view>

#include "common/installer_api.hpp"
#include "common/setup_error.hpp"
#include "inspection/package_queries.hpp"

namespace mirel {

using PackageHandle = InstallerHandle;

// MsiOpenPackageExW, ignoring the machine state. Its error never reaches the user: the launch
// owner check reports its own code instead.
[[nodiscard]] Result<PackageHandle> open_package(std::string_view package_path);

// MsiSetPropertyW; an empty value clears the property. Fails with ErrorCode::MsiLaunchProperties.
[[nodiscard]] Status set_package_property(const PackageHandle& package, std::string_view name, std::string_view value);

// MsiEvaluateConditionW's result, unchanged.
[[nodiscard]] ConditionResult evaluate_condition(const PackageHandle& package, std::string_view condition);

// The package rules' view of real packages on disk.
[[nodiscard]] const PackageQueries& installer_package_queries();

}  // namespace mirel
