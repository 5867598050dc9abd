#pragma once

// Windows Installer access for the package rules: handle ownership, the opened package and the
// msi.dll-backed PackageQueries. msi.dll is not imported; every function is looked up in the
// system directory at run time.

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <string_view>

#include "common/setup_error.hpp"
#include "common/unique_any.hpp"
#include "common/win32.hpp"
#include "inspection/package_queries.hpp"

namespace mirel {

template <typename Function>
Function* msi_function(const char* name) noexcept {
    return system_function<Function>(L"msi.dll", name);
}

struct InstallerHandleTraits {
    using pointer = MSIHANDLE;
    static pointer empty() noexcept { return 0; }
    static bool is_empty(pointer handle) noexcept { return handle == 0; }
    static void close(pointer handle) noexcept {
        // Without the export no handle could have been opened in the first place.
        if (const auto close_handle = msi_function<decltype(::MsiCloseHandle)>("MsiCloseHandle")) {
            close_handle(handle);
        }
    }
};
using InstallerHandle = UniqueAny<InstallerHandleTraits>;
using PackageHandle = InstallerHandle;

// MsiOpenPackageExW, ignoring the machine state. Its error never reaches the user: the launch
// owner check reports its own code instead.
Result<PackageHandle> open_package(std::string_view package_path);

// MsiSetPropertyW; an empty value clears the property. Fails with MSI_LAUNCH_PROPERTIES.
Status set_package_property(const PackageHandle& package, std::string_view name, std::string_view value);

// MsiEvaluateConditionW's result, unchanged.
ConditionResult evaluate_condition(const PackageHandle& package, std::string_view condition);

// The package rules' view of real packages on disk.
const PackageQueries& installer_package_queries();

}  // namespace mirel
