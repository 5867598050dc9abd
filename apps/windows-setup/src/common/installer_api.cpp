#include "common/installer_api.hpp"

#include "common/win32.hpp"

namespace mirel {
namespace {

template <typename Function>
bool resolve(Function*& slot, const char* name) {
    return resolve_system_function(slot, L"msi.dll", name);
}

}  // namespace

const InstallerApi* installer_api() noexcept {
    static const InstallerApi* const api = [] {
        static InstallerApi table{};
        const bool complete =
            resolve(table.open_database, "MsiOpenDatabaseW") && resolve(table.open_view, "MsiDatabaseOpenViewW") &&
            resolve(table.execute, "MsiViewExecute") && resolve(table.fetch, "MsiViewFetch") &&
            resolve(table.record_string, "MsiRecordGetStringW") && resolve(table.read_stream, "MsiRecordReadStream") &&
            resolve(table.open_package, "MsiOpenPackageExW") && resolve(table.set_property, "MsiSetPropertyW") &&
            resolve(table.evaluate_condition, "MsiEvaluateConditionW") &&
            resolve(table.product_info, "MsiGetProductInfoW") && resolve(table.close_handle, "MsiCloseHandle");
        return complete ? &table : nullptr;
    }();
    return api;
}

void InstallerHandleTraits::close(pointer handle) noexcept {
    const LastErrorKeeper keep;
    if (const InstallerApi* api = installer_api()) api->close_handle(handle);
}

std::expected<InstallerQuery, InstallerQuery::Failure> InstallerQuery::open(std::string_view package_path,
                                                                            std::string_view sql) {
    const InstallerApi* api = installer_api();
    InstallerQuery query;
    if (api == nullptr ||
        api->open_database(to_wide(package_path).c_str(), MSIDBOPEN_READONLY, query.database_.put()) != ERROR_SUCCESS)
        return std::unexpected(Failure::Database);
    if (api->open_view(query.database_.get(), to_wide(sql).c_str(), query.view_.put()) != ERROR_SUCCESS)
        return std::unexpected(Failure::View);
    if (api->execute(query.view_.get(), 0) != ERROR_SUCCESS) return std::unexpected(Failure::Execute);
    return query;
}

InstallerQuery::~InstallerQuery() {
    record_.reset();
    view_.reset();
    database_.reset();
}

InstallerQuery::Fetch InstallerQuery::fetch() {
    // A query exists only once the table was complete.
    const UINT fetched = installer_api()->fetch(view_.get(), record_.put());
    if (fetched == ERROR_NO_MORE_ITEMS) return Fetch::End;
    return fetched == ERROR_SUCCESS ? Fetch::Row : Fetch::Failed;
}

}  // namespace mirel
