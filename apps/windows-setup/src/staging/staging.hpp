#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/run_log_file.hpp"
#include "common/setup_error.hpp"
#include "common/win32.hpp"

namespace mirel {

inline constexpr std::size_t STAGING_ATTEMPTS = 100;
inline constexpr std::size_t PAYLOAD_MINIMUM_SIZE = 512;
inline constexpr std::size_t VERIFY_CHUNK_SIZE = 32768;
inline constexpr std::array<std::byte, 8> COMPOUND_FILE_SIGNATURE = {
    std::byte{0xD0}, std::byte{0xCF}, std::byte{0x11}, std::byte{0xE0},
    std::byte{0xA1}, std::byte{0xB1}, std::byte{0x1A}, std::byte{0xE1}};

// The only names ever written into a staging directory, in the order the clean-up deletes them; the
// last is written by the installer engine.
inline constexpr std::array<std::string_view, 4> STAGED_FILE_NAMES = {"en.msi", "tr.msi", "webview.exe",
                                                                      ENGINE_LOG_NAME};

// Open handles that keep one file and every directory above it from being changed, moved or
// deleted by anybody while it is held. Releasing closes the file handle, then the directories
// root first.
class ProtectedFile {
public:
    ProtectedFile(std::vector<UniqueHandle> directories, UniqueHandle file)
        : directories_(std::move(directories)), file_(std::move(file)) {}
    ProtectedFile(ProtectedFile&&) noexcept = default;
    ProtectedFile& operator=(ProtectedFile&& other) noexcept;
    ~ProtectedFile() { release(); }

    [[nodiscard]] HANDLE file() const noexcept { return file_.get(); }
    [[nodiscard]] const std::vector<UniqueHandle>& directories() const noexcept { return directories_; }
    void release() noexcept;

private:
    std::vector<UniqueHandle> directories_;  // root first
    UniqueHandle file_;
};

class StagingDirectory;
namespace staging_internal {
// create_staging_directory with another source of FILETIME values, read once per attempt.
[[nodiscard]] Result<StagingDirectory> create_staging_directory(const std::function<std::uint64_t()>& read_system_time);
void clean_up_within(StagingDirectory& staging, ULONGLONG patience_ms) noexcept;
}

// A directory created new under the user's temporary directory (its links resolved), held open
// from the instant it exists until it is removed: together with every directory above it, it can
// be neither renamed, removed nor replaced by anybody meanwhile, while anybody may still open it
// for reading. Files inside are created, opened and deleted through its handle only. Destroying
// it removes the staged files and the directory again, silently.
class StagingDirectory {
public:
    // `id` is the directory's identity, which the clean-up checks before it deletes; without one
    // (when it could not be read just after the creation) the clean-up deletes what it finds under
    // the name, as long as that is an empty directory.
    StagingDirectory(std::string path, std::wstring name, std::optional<FileId> id, std::vector<UniqueHandle> ancestors,
                     UniqueHandle directory);
    StagingDirectory(StagingDirectory&& other) noexcept;
    StagingDirectory& operator=(StagingDirectory&&) = delete;
    StagingDirectory(const StagingDirectory&) = delete;
    ~StagingDirectory();

    // The path that the programs given the staged files by name get: the resolved one, in its short
    // form where the full one would reach MAX_PATH with a staged name inside.
    [[nodiscard]] const std::string& path() const noexcept { return path_; }
    [[nodiscard]] HANDLE handle() const noexcept { return directory_.get(); }
    // The directories above it, root first, held as long as it exists; the last is its parent.
    [[nodiscard]] const std::vector<UniqueHandle>& ancestors() const noexcept { return ancestors_; }
    // Room for every staged name is kept from the creation on, so that holding a file allocates
    // nothing: memory that runs out in between would leave the file in nobody's list.
    void hold_file(ProtectedFile file) { held_files_.push_back(std::move(file)); }
    [[nodiscard]] const std::vector<ProtectedFile>& held_files() const noexcept { return held_files_; }
    // Releases the file held last: the checks after holding found it is not what was written.
    void release_last_file() noexcept;
    // A file that is being written into the directory, kept here until it is written: its handle
    // shares no deletion, and a clean-up that has to run where the run stands (memory gone while
    // the file is written) closes it before it deletes the file. Returns the handle.
    HANDLE hold_writer(UniqueHandle file) noexcept {
        writer_ = std::move(file);
        return writer_.get();
    }
    void close_writer() noexcept { writer_.reset(); }

    // The clean-up, done now rather than at destruction; nothing is left to do afterwards. It
    // allocates nothing unless there is a run log to write to or another process kept something
    // past its wait. In an elevated run, what stays then is deleted at the next restart.
    void clean_up() noexcept;

private:
    // Which path the directory is handed out by is known only once it exists.
    friend Result<StagingDirectory> staging_internal::create_staging_directory(
        const std::function<std::uint64_t()>& read_system_time);
    friend void staging_internal::clean_up_within(StagingDirectory& staging, ULONGLONG patience_ms) noexcept;
    void clean_up(ULONGLONG patience_ms) noexcept;

    std::string path_;
    std::wstring name_;  // in its parent
    std::optional<FileId> id_;
    std::vector<UniqueHandle> ancestors_;  // root first
    UniqueHandle directory_;               // empty once moved from: nothing to clean up
    std::vector<ProtectedFile> held_files_;
    UniqueHandle writer_;
};

[[nodiscard]] Result<StagingDirectory> create_staging_directory();

// Cleans up every staging directory that exists, at once: for a run that has to end where it
// stands, when memory has run out.
void clean_up_staging_directories() noexcept;

// The user's temporary directory with every link on its way followed, as staging uses it.
[[nodiscard]] Result<std::string> resolved_temporary_directory();

// Opens `file_name` in the staging directory for reading, shared for reading only, together with
// handles on the staging directory and every directory above it; the file must be neither a
// directory nor a link. Another process that has the file open in a way that keeps it from being
// held (a scanner that shares no reading, a writer) is waited for as long as the clean-up waits.
// Failures give ErrorCode::FileProtectionFailed.
[[nodiscard]] Result<ProtectedFile> protect_file(const StagingDirectory& staging, std::string_view file_name);

// Writes `bytes` as `file_name` into `staging`, protects it and verifies it byte for byte.
// Returns the file's full path; the staging directory then holds its ProtectedFile.
[[nodiscard]] Result<std::string> write_payload(StagingDirectory& staging, std::string_view file_name,
                                                std::span<const std::byte> bytes);

// Creates `file_name` new in the staging directory for writing, shared for reading only; the
// Windows error on failure.
[[nodiscard]] std::expected<UniqueHandle, DWORD> create_staged_file(const StagingDirectory& staging,
                                                                    std::string_view file_name);

}  // namespace mirel
