#pragma once

// What the package rules may ask of an installer package. The rules see packages only through
// this interface, so that they run against msi.dll in the product and against rows and condition
// results given by a test everywhere else.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/setup_error.hpp"

namespace mirel {

// The Windows Installer numbering of MsiEvaluateCondition's result.
enum class ConditionResult { False = 0, True = 1, None = 2, Error = 3 };

// A package opened for condition evaluation; closed when destroyed.
class OpenedPackage {
public:
    virtual ~OpenedPackage() = default;
    // Fails with ErrorCode::MsiLaunchProperties. An empty value clears the property.
    [[nodiscard]] virtual Status set_property(std::string_view name, std::string_view value) = 0;
    [[nodiscard]] virtual ConditionResult evaluate_condition(std::string_view condition) = 0;
};

class PackageQueries {
public:
    virtual ~PackageQueries() = default;
    // Column 1 of every selected row, at most 32, each at most 1023 UTF-16 units.
    [[nodiscard]] virtual Result<std::vector<std::string>> query_column(std::string_view package_path,
                                                                        std::string_view query) const = 0;
    // The failure's text is the opener's own; callers report their own code.
    [[nodiscard]] virtual Result<std::unique_ptr<OpenedPackage>> open_package(std::string_view package_path) const = 0;
};

// True for "ProductCode", "ProductVersion" and "ProductLanguage", the only properties read.
[[nodiscard]] bool is_product_property(std::string_view name);

// The value of the single Property row named `name`; ErrorCode::MsiProperty for any other name (the
// package is then not opened), a missing row or a doubled one.
[[nodiscard]] Result<std::string> query_product_property(const PackageQueries& queries, std::string_view package_path,
                                                         std::string_view name);

}  // namespace mirel
