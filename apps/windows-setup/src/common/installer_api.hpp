#pragma once

// Windows Installer handles and queries (msi.dll, reached through common/os.hpp).

#include "common/os.hpp"

#include <expected>
#include <string_view>

#include "common/unique_any.hpp"

namespace mirel {

struct InstallerHandleTraits {
    using pointer = MSIHANDLE;
    static pointer empty() noexcept { return 0; }
    static bool is_empty(pointer handle) noexcept { return handle == 0; }
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
