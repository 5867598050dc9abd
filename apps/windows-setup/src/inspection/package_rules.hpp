#pragma once

// The rules that every embedded package must obey before anything is installed, written against
// PackageQueries only.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/setup_error.hpp"
#include "common/ui_language.hpp"
#include "inspection/package_queries.hpp"
#include "install/installer.hpp"
#include "mirel_version.h"

namespace mirel {

// The build's version (VERSION, or the one a build names); the packages carry exactly this text.
inline constexpr std::string_view SETUP_VERSION = MIREL_VERSION_TEXT;

// The "ProductLanguage" that the package of `language` must carry: "1033" or "1055".
[[nodiscard]] std::string_view expected_product_language(UiLanguage language);

// ProductLanguage and ProductVersion exactly as expected, ProductCode in braces.
[[nodiscard]] Status check_identity(const PackageQueries& queries, std::string_view package_path, UiLanguage language);

// The exit dialog's launch checkbox text is the "msiLaunchApp" text of the package's language.
[[nodiscard]] Status check_launch_text(const PackageQueries& queries, std::string_view package_path,
                                       UiLanguage language);

// Builds the installer engine's arguments for a package path and an installation mode.
using InstallerArgumentsBuilder = std::vector<std::string> (*)(std::string_view package_path, InstallMode mode);

// The package starts the application on its own only when this program did not run it: both
// launch paths are False with the marker "1" that `arguments` passes, True without it.
[[nodiscard]] Status check_launch_owner(const PackageQueries& queries, std::string_view package_path,
                                        InstallerArgumentsBuilder arguments = &installer_arguments);

// RemoveShortcuts runs only on installed products; both legacy shortcuts are removed on install.
[[nodiscard]] Status check_shortcut_cleanup(const PackageQueries& queries, std::string_view package_path);

// The package must not download the web runtime installer.
[[nodiscard]] Status check_download_ban(const PackageQueries& queries, std::string_view package_path);

using PackageCheck = std::function<Status(std::string_view package_path)>;

// Every rule on one written package, in the fixed order; the first failure ends it.
[[nodiscard]] Status check_package(const PackageQueries& queries, const PackageCheck& check_web_runtime,
                                   std::string_view package_path, UiLanguage language);

}  // namespace mirel
