#include "common/installer_api.hpp"

#include "common/win32.hpp"

namespace mirel {

void InstallerHandleTraits::close(pointer handle) noexcept {
    const LastErrorKeeper keep;
    os::MsiCloseHandle(handle);
}

std::expected<InstallerQuery, InstallerQuery::Failure> InstallerQuery::open(std::string_view package_path,
                                                                            std::string_view sql) {
    InstallerQuery query;
    if (os::MsiOpenDatabaseW(to_wide(package_path).c_str(), MSIDBOPEN_READONLY, query.database_.put()) != ERROR_SUCCESS)
        return std::unexpected(Failure::Database);
    if (os::MsiDatabaseOpenViewW(query.database_.get(), to_wide(sql).c_str(), query.view_.put()) != ERROR_SUCCESS)
        return std::unexpected(Failure::View);
    if (os::MsiViewExecute(query.view_.get(), 0) != ERROR_SUCCESS) return std::unexpected(Failure::Execute);
    return query;
}

InstallerQuery::~InstallerQuery() {
    record_.reset();
    view_.reset();
    database_.reset();
}

InstallerQuery::Fetch InstallerQuery::fetch() {
    const UINT fetched = os::MsiViewFetch(view_.get(), record_.put());
    if (fetched == ERROR_NO_MORE_ITEMS) return Fetch::End;
    return fetched == ERROR_SUCCESS ? Fetch::Row : Fetch::Failed;
}

}  // namespace mirel
