// Installer database queries against real databases built by make-query-databases, through the
// msi.dll of the Wine prefix.

#include "inspection/queries.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/win32.hpp"
#include "inspection/installer_database.hpp"

namespace mirel {
namespace {

std::string database(std::string_view name) {
    std::string path = MIREL_QUERY_DATABASES "/" + std::string(name);
    std::ranges::replace(path, '/', '\\');
    return path;
}

std::string error_of(const auto& result) {
    return result ? std::string("success") : result.error().text();
}

std::vector<std::string> rows_of_batch(int batch) {
    auto rows =
        query_column(database("rows.msi"), "SELECT `Text` FROM `Rows` WHERE `Batch` = " + std::to_string(batch));
    EXPECT_TRUE(rows.has_value()) << batch;
    return rows.value_or(std::vector<std::string>{});
}

TEST(QueryColumn, NoMatchingRowGivesAnEmptyList) {
    const auto rows = query_column(database("rows.msi"), "SELECT `Text` FROM `Rows` WHERE `Batch` = 7");
    ASSERT_TRUE(rows.has_value());
    EXPECT_TRUE(rows->empty());
}

TEST(QueryColumn, ThirtyTwoRowsComeBackWholeAndInOrderThirtyThreeFail) {
    const std::vector<std::string> rows = rows_of_batch(32);
    ASSERT_EQ(rows.size(), 32u);
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], "row " + std::to_string(i + 1));

    EXPECT_EQ(error_of(query_column(database("rows.msi"), "SELECT `Text` FROM `Rows` WHERE `Batch` = 33")),
              "msi_record");
}

TEST(QueryColumn, AValueOf1023UnitsFitsAndOneOf1024Fails) {
    const std::vector<std::string> rows = rows_of_batch(1023);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.front(), std::string(1022, 'a') + "z");

    EXPECT_EQ(error_of(query_column(database("rows.msi"), "SELECT `Text` FROM `Rows` WHERE `Batch` = 1024")),
              "msi_string");
}

TEST(QueryColumn, ANullValueIsAnEmptyText) {
    EXPECT_EQ(rows_of_batch(0), std::vector<std::string>{""});
}

TEST(QueryColumn, RejectedQueriesAndMissingFilesHaveTheirCodes) {
    EXPECT_EQ(error_of(query_column(database("rows.msi"), "SELECT `Text` FROM")), "msi_view");
    EXPECT_EQ(error_of(query_column(database("rows.msi"), "SELECT `Text` FROM `Nowhere`")), "msi_view");
    EXPECT_EQ(error_of(query_column(database("rows.msi"), "SELECT `Nothing` FROM `Rows`")), "msi_view");
    EXPECT_EQ(error_of(query_column(database("missing.msi"), "SELECT `Text` FROM `Rows`")), "msi_database");
}

TEST(QueryProductProperty, ReadsTheThreePropertiesOnly) {
    EXPECT_EQ(query_product_property(database("rows.msi"), "ProductCode").value(),
              "{0E9C43C8-6B5B-4E0B-9D38-6A1B1A7C5E01}");
    EXPECT_EQ(query_product_property(database("rows.msi"), "ProductVersion").value(), "0.1.58");
    EXPECT_EQ(query_product_property(database("rows.msi"), "ProductLanguage").value(), "");
    EXPECT_EQ(error_of(query_product_property(database("rows.msi"), "Manufacturer")), "msi_property");
    // The package is not even opened: a missing file gives the same code, not "msi_database".
    EXPECT_EQ(error_of(query_product_property(database("missing.msi"), "Manufacturer")), "msi_property");
    EXPECT_EQ(error_of(query_product_property(database("missing.msi"), "ProductCode")), "msi_database");
}

TEST(QueryProductProperty, MissingAndDoubledRowsFail) {
    EXPECT_EQ(error_of(query_product_property(database("doubled.msi"), "ProductVersion")), "msi_property");
    EXPECT_EQ(error_of(query_product_property(database("doubled.msi"), "ProductCode")), "msi_property");
    EXPECT_EQ(query_product_property(database("doubled.msi"), "ProductLanguage").value(), "1033");
}

TEST(HandleOwners, CloseWhatTheyOwnMoveOwnershipAndKeepTheLastError) {
    InstallerHandle first;
    ASSERT_EQ(os::MsiOpenDatabaseW(to_wide(database("rows.msi")).c_str(), MSIDBOPEN_READONLY, first.put()), 0u);
    const MSIHANDLE raw = first.get();
    InstallerHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    second.reset();
    EXPECT_EQ(os::MsiCloseHandle(raw), static_cast<UINT>(ERROR_INVALID_HANDLE));  // already closed by its owner

    // A close that fails sets its own error; the owner keeps the caller's, which it may be about
    // to report.
    HANDLE stale = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(::CloseHandle(stale));
    UniqueHandle owner(stale);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    owner.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_FALSE(::CloseHandle(stale));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "the stale handle must fail to close";
}

TEST(OpenedPackage, PropertiesAndConditionsThroughMsiDll) {
    auto package = open_package(database("rows.msi"));
    ASSERT_TRUE(package.has_value()) << package.error().text();
    EXPECT_EQ(evaluate_condition(*package, "Manufacturer = \"Oruvan\""), ConditionResult::True);
    EXPECT_EQ(evaluate_condition(*package, ""), ConditionResult::None);
    EXPECT_EQ(evaluate_condition(*package, "Manufacturer = ("), ConditionResult::Error);

    ASSERT_TRUE(set_package_property(*package, "MIREL_SETUP_LAUNCH_OWNER", "1").has_value());
    EXPECT_EQ(evaluate_condition(*package, "NOT MIREL_SETUP_LAUNCH_OWNER"), ConditionResult::False);
    ASSERT_TRUE(set_package_property(*package, "MIREL_SETUP_LAUNCH_OWNER", "").has_value());
    EXPECT_EQ(evaluate_condition(*package, "NOT MIREL_SETUP_LAUNCH_OWNER"), ConditionResult::True);

    // The changes live in the opened package only.
    const auto rows = query_column(database("rows.msi"),
                                   "SELECT `Value` FROM `Property` WHERE `Property` = 'MIREL_SETUP_LAUNCH_OWNER'");
    ASSERT_TRUE(rows.has_value());
    EXPECT_TRUE(rows->empty());

    // A property without a name cannot be set.
    EXPECT_EQ(error_of(set_package_property(*package, "", "1")), "msi_launch_properties");

    EXPECT_FALSE(open_package(database("missing.msi")).has_value());
}

}  // namespace
}  // namespace mirel
