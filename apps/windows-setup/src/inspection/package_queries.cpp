#include "inspection/package_queries.hpp"

#include <array>

namespace mirel {

bool is_product_property(std::string_view name) {
    constexpr std::array<std::string_view, 3> names = {"ProductCode", "ProductVersion", "ProductLanguage"};
    for (const std::string_view known : names) {
        if (name == known) return true;
    }
    return false;
}

Result<std::string> query_product_property(const PackageQueries& queries, std::string_view package_path,
                                           std::string_view name) {
    // The name goes into the query text unescaped, so only the three fixed names may.
    if (!is_product_property(name)) return fail(ErrorCode::MsiProperty);
    std::string query = "SELECT Value FROM Property WHERE Property = '";
    query.append(name);
    query.push_back('\'');
    ASSIGN_OR_RETURN(std::vector<std::string> rows, queries.query_column(package_path, query));
    if (rows.size() != 1) return fail(ErrorCode::MsiProperty);
    return std::move(rows.front());
}

}  // namespace mirel
