#include "inspection/inspect_packages.hpp"

#include "inspection/queries.hpp"

namespace mirel {

// Placeholder until the package rules land: no package is ever accepted.
Status inspect_packages() { return fail("inspection_not_built"); }
Result<std::vector<std::string>> query_column(std::string_view, std::string_view) {
    return fail("inspection_not_built");
}
Result<std::string> query_product_property(std::string_view, std::string_view) {
    return fail("inspection_not_built");
}

}  // namespace mirel
