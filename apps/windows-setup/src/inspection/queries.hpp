#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/setup_error.hpp"

namespace mirel {

inline constexpr std::size_t QUERY_ROW_LIMIT = 32;
inline constexpr std::size_t QUERY_VALUE_UNITS = 1024;

// Column 1 of every row that `query` selects in the package at `package_path`, read-only.
[[nodiscard]] Result<std::vector<std::string>> query_column(std::string_view package_path, std::string_view query);

// "ProductCode", "ProductVersion" or "ProductLanguage" of the package.
[[nodiscard]] Result<std::string> query_product_property(std::string_view package_path, std::string_view name);

}  // namespace mirel
