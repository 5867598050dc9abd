#include "inspection/package_queries.hpp"

#include <gtest/gtest.h>

#include "fake_package.hpp"

namespace mirel {
namespace {

using testing::FakePackage;

constexpr std::string_view PATH = "C:\\Temp\\en.msi";

TEST(QueryProductProperty, ReadsTheSingleRowOfTheThreeNamesWithAnUnquotedQuery) {
    FakePackage package;
    package.answer("SELECT Value FROM Property WHERE Property = 'ProductCode'", {"{A}"});
    package.answer("SELECT Value FROM Property WHERE Property = 'ProductVersion'", {"0.1.58"});
    package.answer("SELECT Value FROM Property WHERE Property = 'ProductLanguage'", {""});
    EXPECT_EQ(query_product_property(package, PATH, "ProductCode").value(), "{A}");
    EXPECT_EQ(query_product_property(package, PATH, "ProductVersion").value(), "0.1.58");
    EXPECT_EQ(query_product_property(package, PATH, "ProductLanguage").value(), "");  // empty is a value
}

TEST(QueryProductProperty, OtherNamesFailWithoutTouchingThePackage) {
    for (const char* name :
         {"Manufacturer", "productcode", "ProductCode ", "", "ProductCode' OR '1'='1", "UpgradeCode", "ProductName"}) {
        FakePackage package;
        EXPECT_EQ(query_product_property(package, PATH, name).error().text(), "msi_property") << name;
        EXPECT_TRUE(package.state().log.empty()) << name;
    }
}

TEST(QueryProductProperty, MissingOrDoubledRowsFailAndQueryErrorsPassThrough) {
    const std::string query = "SELECT Value FROM Property WHERE Property = 'ProductVersion'";
    FakePackage package;
    package.answer(query, {});
    EXPECT_EQ(query_product_property(package, PATH, "ProductVersion").error().text(), "msi_property");
    package.answer(query, {"0.1.58", "0.1.58"});
    EXPECT_EQ(query_product_property(package, PATH, "ProductVersion").error().text(), "msi_property");
    package.answer_error(query, ErrorCode::MsiDatabase);
    EXPECT_EQ(query_product_property(package, PATH, "ProductVersion").error().text(), "msi_database");
}

}  // namespace
}  // namespace mirel
