#include "staging/staging.hpp"

namespace mirel {

// Placeholder until payload staging lands: every operation fails, so no run can succeed.
ProtectedFile& ProtectedFile::operator=(ProtectedFile&& other) noexcept {
    release();
    directories_ = std::move(other.directories_);
    file_ = std::move(other.file_);
    return *this;
}
void ProtectedFile::release() noexcept {
    file_.reset();
    directories_.clear();
}
StagingDirectory::StagingDirectory(StagingDirectory&& other) noexcept
    : path_(std::exchange(other.path_, {})), held_files_(std::move(other.held_files_)) {}
StagingDirectory::~StagingDirectory() = default;

Result<StagingDirectory> create_staging_directory() { return fail("staging_not_built"); }
Result<ProtectedFile> protect_file(std::string_view) { return fail(FILE_PROTECTION_FAILED); }
Result<std::string> write_payload(StagingDirectory&, std::string_view, std::span<const std::byte>) {
    return fail("staging_not_built");
}

}  // namespace mirel
