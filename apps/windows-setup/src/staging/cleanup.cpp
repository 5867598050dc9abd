// Destroying a staging directory: its held files released, its staged files deleted and the
// directory removed, all relative to handles it holds, waiting out other processes for a while.

#include <algorithm>
#include <array>
#include <string>

#include "common/path.hpp"
#include "common/run_log.hpp"
#include "staging/staging_internal.hpp"

namespace mirel {
namespace staging_internal {
namespace {

constexpr RelativeOpen REMOVAL{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, DELETION_SHARING, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE};

// The staged names as the system takes them, so that the clean-up allocates nothing.
constexpr std::array<std::wstring_view, STAGED_FILE_NAMES.size()> STAGED_WIDE_NAMES = {L"en.msi", L"tr.msi",
                                                                                       L"webview.exe", L"engine.log"};
constexpr bool same_names() {
    for (std::size_t i = 0; i < STAGED_FILE_NAMES.size(); ++i) {
        if (STAGED_FILE_NAMES[i].size() != STAGED_WIDE_NAMES[i].size()) return false;
        for (std::size_t j = 0; j < STAGED_FILE_NAMES[i].size(); ++j) {
            if (static_cast<wchar_t>(STAGED_FILE_NAMES[i][j]) != STAGED_WIDE_NAMES[i][j]) return false;
        }
    }
    return true;
}
static_assert(same_names());

// Every staging directory that exists, for the clean-up of a run that has to end where it stands.
// There are never more than three at once (the run's, the inspection's, the web runtime check's).
std::array<StagingDirectory*, 8> existing{};

void make_known(StagingDirectory* staging) noexcept {
    const auto free = std::ranges::find(existing, nullptr);
    if (free != existing.end()) *free = staging;
}

}  // namespace

bool worth_waiting(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_DELETE_PENDING || error == ERROR_ACCESS_DENIED;
}

namespace {

bool is_gone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// One try at deleting `name` inside `directory`: ERROR_SUCCESS once it is gone (or was never
// there), else why not. Every handle is closed again before it returns.
DWORD try_remove_staged_file(HANDLE directory, std::wstring_view name, bool& found) {
    std::expected<UniqueHandle, DWORD> file = open_in_directory(directory, name, REMOVAL);
    if (!file) return is_gone(file.error()) ? DWORD{ERROR_SUCCESS} : file.error();
    found = true;
    const DWORD refused = delete_through_handle(file->get());
    file->reset();
    if (refused != ERROR_SUCCESS) return refused;
    // Gone at once, unless another process still has it open.
    file = open_in_directory(directory, name, REMOVAL);
    if (!file) return is_gone(file.error()) ? DWORD{ERROR_SUCCESS} : file.error();
    return ERROR_DELETE_PENDING;
}

// Hands what another process kept past the wait to the system, which deletes it at the next
// restart: the staged names in `left`, then the directory. The log says so.
void delete_at_restart(const std::string& directory, StagedNames left) {
    const auto schedule = [](const std::string& path) {
        const bool scheduled =
            os::MoveFileExW(file_system_path(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
        const DWORD error = scheduled ? DWORD{ERROR_SUCCESS} : os::GetLastError();
        log_event("clean-up", {path,
                               scheduled ? " is to be deleted at the next restart"
                                         : " cannot be left to the next restart to delete: ",
                               scheduled ? LogPart("") : LogPart::os_error(error)});
    };
    for (std::size_t i = 0; i < STAGED_FILE_NAMES.size(); ++i) {
        if (left[i]) schedule(join_path(directory, STAGED_FILE_NAMES[i]));
    }
    schedule(directory);
}

// One try at removing the directory `name` inside `parent` if it is still the one with `id`:
// ERROR_SUCCESS once it is removed, else why not.
DWORD try_remove_directory(HANDLE parent, std::wstring_view name, const std::optional<FileId>& id) {
    const std::expected<UniqueHandle, DWORD> directory = open_in_directory(
        parent, name, {DELETE | FILE_READ_ATTRIBUTES, DELETION_SHARING, FILE_OPEN, FILE_DIRECTORY_FILE});
    if (!directory) return directory.error();
    // Never a directory that somebody else has put under the name meanwhile.
    if (id) {
        const std::optional<FileId> identity = file_identity(directory->get());
        if (!identity) return os::GetLastError();
        if (*identity != *id) return ERROR_ALREADY_EXISTS;
    }
    return delete_through_handle(directory->get());
}

}  // namespace

Patience::Patience(ULONGLONG milliseconds) : until_(os::GetTickCount64() + milliseconds) {}

ULONGLONG Patience::left() const {
    const ULONGLONG now = os::GetTickCount64();
    return now >= until_ ? 0 : until_ - now;
}

Retries::Retries(const Patience& patience) : patience_(patience), started_(os::GetTickCount64()) {}

bool Retries::pause(DWORD reason) {
    last_ = reason;
    const ULONGLONG left = patience_.left();
    if (left == 0) return false;
    os::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(next_, left)));
    next_ = std::min(next_ * 2, LONGEST_PAUSE_MS);
    ++count_;
    return true;
}

std::string Retries::text() const {
    if (count_ == 0) return {};
    return compose(
        {" after ", count_, " retries over ", os::GetTickCount64() - started_, " ms (", LogPart::os_error(last_), ")"});
}

StagedNames remove_staged_files(HANDLE directory, const Patience& patience, std::string_view where) {
    StagedNames left;
    for (std::size_t i = 0; i < STAGED_FILE_NAMES.size(); ++i) {
        const std::string_view staged = STAGED_FILE_NAMES[i];
        Retries retries(patience);
        bool found = false;
        DWORD refused = ERROR_SUCCESS;
        do {
            refused = try_remove_staged_file(directory, STAGED_WIDE_NAMES[i], found);
        } while (worth_waiting(refused) && retries.pause(refused));
        left[i] = refused != ERROR_SUCCESS;
        if (!found && refused == ERROR_SUCCESS) continue;
        if (run_log_enabled()) {
            log_event("clean-up", {refused == ERROR_SUCCESS ? "deleted " : "left ", where, "\\", staged, retries.text(),
                                   refused == ERROR_SUCCESS ? "" : ": ",
                                   refused == ERROR_SUCCESS ? LogPart("") : LogPart::os_error(refused)});
        }
    }
    return left;
}

DWORD remove_directory(HANDLE parent, std::wstring_view name, const std::optional<FileId>& id, const Patience& patience,
                       std::string_view where) {
    Retries retries(patience);
    DWORD left = ERROR_SUCCESS;
    // Somebody may have it open; or, in the instant it was not held, moved it away (and perhaps
    // back) or removed it.
    do {
        left = try_remove_directory(parent, name, id);
    } while ((worth_waiting(left) || is_gone(left)) && retries.pause(left));
    if (!run_log_enabled()) return left;
    if (left == ERROR_ALREADY_EXISTS) {
        log_event("clean-up", {"left ", where, ": another directory has its name now"});
        return left;
    }
    log_event("clean-up",
              {left == ERROR_SUCCESS ? "removed " : "left ", where, retries.text(), left == ERROR_SUCCESS ? "" : ": ",
               left == ERROR_SUCCESS ? LogPart("") : LogPart::os_error(left)});
    return left;
}

void clean_up_within(StagingDirectory& staging, ULONGLONG patience_ms) noexcept {
    staging.clean_up(patience_ms);
}

}  // namespace staging_internal

ProtectedFile& ProtectedFile::operator=(ProtectedFile&& other) noexcept {
    if (this != &other) {
        release();
        directories_ = std::move(other.directories_);
        file_ = std::move(other.file_);
    }
    return *this;
}

void ProtectedFile::release() noexcept {
    file_.reset();
    for (UniqueHandle& directory : directories_) directory.reset();
    directories_.clear();
}

StagingDirectory::StagingDirectory(std::string path, std::wstring name, std::optional<FileId> id,
                                   std::vector<UniqueHandle> ancestors, UniqueHandle directory)
    : path_(std::move(path)),
      name_(std::move(name)),
      id_(id),
      ancestors_(std::move(ancestors)),
      directory_(std::move(directory)) {
    // Known to the clean-up of a run that has to end where it stands before anything here
    // allocates: memory running out in the reservation below would otherwise leave the directory.
    staging_internal::make_known(this);
    held_files_.reserve(STAGED_FILE_NAMES.size());
}

// Moving allocates nothing: the held files keep the room reserved for them.
StagingDirectory::StagingDirectory(StagingDirectory&& other) noexcept
    : path_(std::move(other.path_)),
      name_(std::move(other.name_)),
      id_(other.id_),
      ancestors_(std::move(other.ancestors_)),
      directory_(std::move(other.directory_)),
      held_files_(std::move(other.held_files_)),
      writer_(std::move(other.writer_)) {
    staging_internal::make_known(this);
}

StagingDirectory::~StagingDirectory() {
    clean_up();
    std::ranges::replace(staging_internal::existing, this, nullptr);
}

void clean_up_staging_directories() noexcept {
    for (StagingDirectory* staging : staging_internal::existing) {
        if (staging != nullptr) staging->clean_up();
    }
}

void StagingDirectory::release_last_file() noexcept {
    if (held_files_.empty()) return;
    held_files_.back().release();
    held_files_.pop_back();
}

void StagingDirectory::clean_up() noexcept {
    clean_up(staging_internal::CLEANUP_PATIENCE_MS);
}

void StagingDirectory::clean_up(ULONGLONG patience_ms) noexcept {
    // Our own handles deny deletion to this process too: all of them go first.
    writer_.reset();
    for (ProtectedFile& file : held_files_) file.release();
    held_files_.clear();
    if (!directory_) return;

    // Through the held directory only: whatever happens elsewhere, these names are inside it.
    const staging_internal::Patience patience(patience_ms);
    const staging_internal::StagedNames left = staging_internal::remove_staged_files(directory_.get(), patience, path_);
    // The held handle shares no deletion, so it has to go before the directory can be opened for
    // it; from here until it is deleted the emptied directory is no longer held.
    directory_.reset();
    // A file of another name inside keeps it; the directory then stays with it.
    const DWORD stays = staging_internal::remove_directory(ancestors_.back().get(), name_, id_, patience, path_);
    // Another process kept a staged file, or the directory, past the wait; not a file of another
    // name, nor a directory that is no longer ours. An elevated run (only it may) leaves them to the
    // system to delete at the next restart, while the directories above are still held and the
    // path still names them; docs/threat-model.md weighs what a path exposes until then.
    const bool ours = stays != ERROR_SUCCESS && stays != ERROR_ALREADY_EXISTS && !staging_internal::is_gone(stays);
    if (ours && (left.any() || staging_internal::worth_waiting(stays)) && is_elevated())
        staging_internal::delete_at_restart(path_, left);
    for (UniqueHandle& ancestor : ancestors_) ancestor.reset();
}

}  // namespace mirel
