#include "inspection/queries.hpp"

#include <array>

#include "common/win32.hpp"
#include "inspection/installer_database.hpp"

namespace mirel {
namespace {

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
    auto opened = InstallerQuery::open(package_path, query);
    if (!opened) {
        switch (opened.error()) {
            case InstallerQuery::Failure::Database: return fail(ErrorCode::MsiDatabase);
            case InstallerQuery::Failure::View: return fail(ErrorCode::MsiView);
            case InstallerQuery::Failure::Execute: break;
        }
        return fail(ErrorCode::MsiExecute);
    }

    std::vector<std::string> rows;
    std::array<wchar_t, QUERY_VALUE_UNITS> buffer{};
    for (;;) {
        const InstallerQuery::Fetch fetched = opened->fetch();
        if (fetched == InstallerQuery::Fetch::End) break;
        if (fetched != InstallerQuery::Fetch::Row || rows.size() == QUERY_ROW_LIMIT) return fail(ErrorCode::MsiRecord);

        DWORD units = static_cast<DWORD>(buffer.size());
        if (os::MsiRecordGetStringW(opened->record(), 1, buffer.data(), &units) != ERROR_SUCCESS ||
            units >= buffer.size()) {
            return fail(ErrorCode::MsiString);
        }
        rows.push_back(from_wide(std::wstring_view(buffer.data(), units)));
    }
    return rows;
}

Result<std::string> query_product_property(std::string_view package_path, std::string_view name) {
    return query_product_property(installer_package_queries(), package_path, name);
}

Result<PackageHandle> open_package(std::string_view package_path) {
    PackageHandle package;
    if (os::MsiOpenPackageExW(to_wide(package_path).c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, package.put()) !=
        ERROR_SUCCESS) {
        return fail(ErrorCode::MsiPackageOpen);
    }
    return package;
}

Status set_package_property(const PackageHandle& package, std::string_view name, std::string_view value) {
    if (os::MsiSetPropertyW(package.get(), to_wide(name).c_str(), to_wide(value).c_str()) != ERROR_SUCCESS)
        return fail(ErrorCode::MsiLaunchProperties);
    return {};
}

ConditionResult evaluate_condition(const PackageHandle& package, std::string_view condition) {
    return static_cast<ConditionResult>(os::MsiEvaluateConditionW(package.get(), to_wide(condition).c_str()));
}

const PackageQueries& installer_package_queries() {
    static const InstallerPackageQueries queries;
    return queries;
}

}  // namespace mirel
