#include "inspection/queries.hpp"

#include <array>

#include "inspection/installer_database.hpp"

namespace mirel {
namespace {

constexpr const char* MSI_PACKAGE_OPEN = "msi_package_open";

class InstallerPackage final : public OpenedPackage {
public:
    explicit InstallerPackage(PackageHandle handle) : handle_(std::move(handle)) {}
    Status set_property(std::string_view name, std::string_view value) override {
        return set_package_property(handle_, name, value);
    }
    ConditionResult evaluate_condition(std::string_view condition) override {
        return mirel::evaluate_condition(handle_, condition);
    }

private:
    PackageHandle handle_;
};

class InstallerPackageQueries final : public PackageQueries {
public:
    Result<std::vector<std::string>> query_column(std::string_view package_path,
                                                  std::string_view query) const override {
        return mirel::query_column(package_path, query);
    }
    Result<std::unique_ptr<OpenedPackage>> open_package(std::string_view package_path) const override {
        ASSIGN_OR_RETURN(PackageHandle handle, mirel::open_package(package_path));
        return std::make_unique<InstallerPackage>(std::move(handle));
    }
};

}  // namespace

Result<std::vector<std::string>> query_column(std::string_view package_path, std::string_view query) {
    const auto open_database = msi_function<decltype(::MsiOpenDatabaseW)>("MsiOpenDatabaseW");
    const auto open_view = msi_function<decltype(::MsiDatabaseOpenViewW)>("MsiDatabaseOpenViewW");
    const auto execute = msi_function<decltype(::MsiViewExecute)>("MsiViewExecute");
    const auto fetch = msi_function<decltype(::MsiViewFetch)>("MsiViewFetch");
    const auto get_string = msi_function<decltype(::MsiRecordGetStringW)>("MsiRecordGetStringW");

    InstallerHandle database;
    if (open_database == nullptr ||
        open_database(to_wide(package_path).c_str(), MSIDBOPEN_READONLY, database.put()) != ERROR_SUCCESS) {
        return fail(MSI_DATABASE);
    }
    InstallerHandle view;
    if (open_view == nullptr || open_view(database.get(), to_wide(query).c_str(), view.put()) != ERROR_SUCCESS) {
        return fail(MSI_VIEW);
    }
    if (execute == nullptr || execute(view.get(), 0) != ERROR_SUCCESS) return fail(MSI_EXECUTE);
    if (fetch == nullptr || get_string == nullptr) return fail(MSI_RECORD);

    std::vector<std::string> rows;
    std::array<wchar_t, QUERY_VALUE_UNITS> buffer{};
    for (;;) {
        InstallerHandle record;
        const UINT fetched = fetch(view.get(), record.put());
        if (fetched == ERROR_NO_MORE_ITEMS) break;
        if (fetched != ERROR_SUCCESS || rows.size() == QUERY_ROW_LIMIT) return fail(MSI_RECORD);

        DWORD units = static_cast<DWORD>(buffer.size());
        if (get_string(record.get(), 1, buffer.data(), &units) != ERROR_SUCCESS || units >= buffer.size()) {
            return fail(MSI_STRING);
        }
        rows.push_back(from_wide(std::wstring_view(buffer.data(), units)));
    }
    return rows;
}

Result<std::string> query_product_property(std::string_view package_path, std::string_view name) {
    return query_product_property(installer_package_queries(), package_path, name);
}

Result<PackageHandle> open_package(std::string_view package_path) {
    const auto open = msi_function<decltype(::MsiOpenPackageExW)>("MsiOpenPackageExW");
    PackageHandle package;
    if (open == nullptr ||
        open(to_wide(package_path).c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, package.put()) != ERROR_SUCCESS) {
        return fail(MSI_PACKAGE_OPEN);
    }
    return package;
}

Status set_package_property(const PackageHandle& package, std::string_view name, std::string_view value) {
    const auto set_property = msi_function<decltype(::MsiSetPropertyW)>("MsiSetPropertyW");
    if (set_property == nullptr ||
        set_property(package.get(), to_wide(name).c_str(), to_wide(value).c_str()) != ERROR_SUCCESS) {
        return fail(MSI_LAUNCH_PROPERTIES);
    }
    return {};
}

ConditionResult evaluate_condition(const PackageHandle& package, std::string_view condition) {
    const auto evaluate = msi_function<decltype(::MsiEvaluateConditionW)>("MsiEvaluateConditionW");
    // Without msi.dll no package could have been opened; Error is what a caller can never accept.
    if (evaluate == nullptr) return ConditionResult::Error;
    return static_cast<ConditionResult>(evaluate(package.get(), to_wide(condition).c_str()));
}

const PackageQueries& installer_package_queries() {
    static const InstallerPackageQueries queries;
    return queries;
}

}  // namespace mirel
