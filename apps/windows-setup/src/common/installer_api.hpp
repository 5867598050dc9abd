#pragma once

// Windows Installer (msi.dll), which the program does not import: its functions come from the
// system directory, resolved once at the first use into one table.

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <expected>
#include <string_view>

#include "common/unique_any.hpp"

namespace mirel {

struct InstallerApi {
    decltype(&::MsiOpenDatabaseW) open_database;
    decltype(&::MsiDatabaseOpenViewW) open_view;
    decltype(&::MsiViewExecute) execute;
    decltype(&::MsiViewFetch) fetch;
    decltype(&::MsiRecordGetStringW) record_string;
    decltype(&::MsiRecordReadStream) read_stream;
    decltype(&::MsiOpenPackageExW) open_package;
    decltype(&::MsiSetPropertyW) set_property;
    decltype(&::MsiEvaluateConditionW) evaluate_condition;
    decltype(&::MsiGetProductInfoW) product_info;
    decltype(&::MsiCloseHandle) close_handle;
};

// The table, or null when msi.dll or any of its functions is missing.
[[nodiscard]] const InstallerApi* installer_api() noexcept;

struct InstallerHandleTraits {
    using pointer = MSIHANDLE;
    static pointer empty() noexcept { return 0; }
    static bool is_empty(pointer handle) noexcept { return handle == 0; }
    // Without the table no handle could have been opened in the first place.
    static void close(pointer handle) noexcept;
};
using InstallerHandle = UniqueAny<InstallerHandleTraits>;

// One read-only query on a package: its database, view and current record, closed in the order
// the API wants (record, view, database) however the caller holds it.
class InstallerQuery {
public:
    enum class Failure { Database, View, Execute };
    enum class Fetch { Row, End, Failed };

    [[nodiscard]] static std::expected<InstallerQuery, Failure> open(std::string_view package_path,
                                                                     std::string_view sql);

    InstallerQuery(InstallerQuery&& other) noexcept = default;
    InstallerQuery& operator=(InstallerQuery&&) = delete;
    ~InstallerQuery();

    // The next row into `record()`.
    [[nodiscard]] Fetch fetch();
    [[nodiscard]] MSIHANDLE record() const noexcept { return record_.get(); }

private:
    InstallerQuery() = default;

    InstallerHandle database_;
    InstallerHandle view_;
    InstallerHandle record_;
};

}  // namespace mirel
