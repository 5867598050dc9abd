// tamper_hostile SETUP_PID TEMP_DIR WORK_DIR STAGING_HOSTILE_EXE
//
// Another process of the same user, out to make a running setup program install something else
// than what it carries, or leave something behind. From the moment it sees a staging directory
// it tries to rename it, remove it or open it for deletion, again and again until it is gone
// (phase "first_instant"). With SETUP_PID 0 that is all it does, to every staging directory of
// any setup program in TEMP_DIR and to every directory above them, until the named event
// STOP_EVENT is set: started before a run, it is there from the directory's first instant. A
// success on a directory above counts only when the staging directory was still inside it
// afterwards; otherwise the directory had just gone and there was nothing left to protect.
// Directories above are attacked only in this mode: started before validation runs, after whose
// staging directory nothing more is staged, renaming them in between cannot make a later staging
// step fail. For as long as the setup process SETUP_PID lives it also
//  - squats on the names of the setup's next staging directories (MirelSetup-<pid>-<time>-<n>
//    with times just ahead of the clock), each holding a planted en.msi and tr.msi;
//  - whenever the setup has a child running (the signature verifier "powershell.exe" during
//    the package inspection, the installer engine "msiexec.exe" afterwards), which it only starts
//    once its staged files are locked, attacks every staged file and every directory above it:
//    writing, truncating, deleting, renaming, replacing, and renaming or removing the directories;
//    during the engine it also runs the staging tests' attacker (STAGING_HOSTILE_EXE) on the
//    package. Anything that succeeds is undone where it can be and counted.
// Throughout, in either mode, it also does what scanners, indexers and file managers do: it opens
// each staging directory, and with SETUP_PID 0 every directory above, for reading (sharing reading
// and writing, as folders are usually opened), which must always work; and it opens each staged
// file once, sharing everything, and keeps it open for SCAN_HOLD_MS, which often lasts past the
// file's deletion.
// Before a child ends it asks the attacker to stand back (window_guard.hpp), which it does at once,
// between two attacks; a round of attacks counts only if the child was still running when it had
// finished. Once the child has gone the setup program unlocks and removes its files: attacking
// those would no longer test the locks.
//
// The report goes to the standard error stream, one record per line, fields separated by tabs:
//   attack  PHASE  NAME  ATTEMPTS  SUCCESSES  LAST_ERROR
//   rounds  PHASE  COUNTED  DISCARDED
//   seen    DIRECTORY_NAME        (each staging directory of the setup program that was observed)
//   squat   DIRECTORY_NAME        (each directory planted in the setup program's way)
//   squats  CREATED  INTACT       (INTACT: still there afterwards with the planted files unchanged)
//   note    TEXT                  (why the staging tests' attacker could not be started)
//   scans   OPENED  HELD_PAST_DELETION  (staged files the scanner opened; of them, those whose name
//                                        went only when it let go, having been deleted meanwhile)
// "read" and "staging_hostile:read" are the attacker reading the package, which is allowed (the
// engine is a reader too) and shows that the files were there to be attacked; "directory:read"
// and "directory_above:read" are the folders opened for reading.

#include <windows.h>

#include <tlhelp32.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "test_driver.hpp"
#include "window_guard.hpp"

namespace {

using mirel::test_driver::narrow;

constexpr ULONGLONG WATCH_LIMIT_MS = 180'000;
constexpr std::size_t SQUAT_LIMIT = 150;
constexpr DWORD ALL_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr const wchar_t* STAGED_NAMES[] = {L"en.msi", L"tr.msi", L"webview.exe"};
constexpr std::uint64_t UNIX_EPOCH_FILETIME = 116444736000000000ULL;
constexpr const wchar_t* STOP_EVENT = L"MirelTamperStopWatching";
constexpr ULONGLONG SCAN_HOLD_MS = 1500;

struct Tally {
    long attempts = 0;
    long successes = 0;
    DWORD last_error = 0;
};
using Tallies = std::map<std::string, Tally>;

void record(Tallies& tallies, const std::string& attack, bool succeeded) {
    Tally& tally = tallies[attack];
    ++tally.attempts;
    if (succeeded) {
        ++tally.successes;
    } else {
        tally.last_error = ::GetLastError();
    }
}

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A folder opened the usual way: for reading, shared for reading and writing.
bool open_folder_for_reading(const std::wstring& path) {
    const HANDLE folder = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(folder);
    return true;
}

bool try_open(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags = 0) {
    const HANDLE file = ::CreateFileW(path.c_str(), access, ALL_SHARING, nullptr, disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

// What the planted files hold: a compound-file header that is not the embedded package.
const std::string& planted_bytes() {
    static const std::string bytes = [] {
        std::string header("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
        header += "planted by the attacker";
        header.resize(512, '\0');
        return header;
    }();
    return bytes;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

std::string read_file(const std::wstring& path) {
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes(4096, '\0');
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
    ::CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// Every directory above the path except the volume root, which cannot be renamed anyway.
std::vector<std::wstring> directories_above(std::wstring path) {
    std::vector<std::wstring> directories;
    for (;;) {
        const std::size_t separator = path.find_last_of(L'\\');
        if (separator == std::wstring::npos || separator <= 2) return directories;
        path.resize(separator);
        directories.push_back(path);
    }
}

// Wine's ReplaceFileW leaves an empty "rf*.tmp" beside the file it failed to replace. That would
// keep the staging directory from being removed, which any process may do on purpose by putting
// a file there, but it is not what these attacks are about: they clear up after themselves.
// Wine's FindFirstFileW opens a directory without delete sharing, which a held staging directory
// refuses, so it is listed through a handle that shares everything.
void remove_replace_litter(const std::wstring& file) {
    const std::wstring directory = file.substr(0, file.find_last_of(L'\\'));
    const HANDLE listing = ::CreateFileW(directory.c_str(), FILE_LIST_DIRECTORY, ALL_SHARING, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (listing == INVALID_HANDLE_VALUE) return;
    alignas(FILE_ID_BOTH_DIR_INFO) std::byte buffer[64 * 1024];
    for (auto type = FileIdBothDirectoryRestartInfo;
         ::GetFileInformationByHandleEx(listing, type, buffer, sizeof buffer); type = FileIdBothDirectoryInfo) {
        for (std::size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name.starts_with(L"rf") && name.ends_with(L".tmp")) ::DeleteFileW((directory + L"\\" + name).c_str());
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
    ::CloseHandle(listing);
}

// The staging tests' attacker, run on one file; its tallies are added under its own name.
void run_staging_hostile(Tallies& tallies, const std::wstring& program, const std::wstring& file) {
    mirel::wine_test::LaunchRequest request;
    request.program = program;
    request.arguments = {file, L"3"};
    request.capture_standard_output = true;
    request.no_console_window = true;
    auto started = mirel::wine_test::Process::start(request);
    std::string output;
    if (!started) {
        const std::string note = "note\t" + started.error().text() + "\n";
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), note.data(), static_cast<DWORD>(note.size()), &written, nullptr);
    } else if ((*started)->wait_for_exit(INFINITE)) {
        output = (*started)->standard_output();
    }

    // attack, target, attempts, successes, last error
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::vector<std::string> fields;
        for (std::size_t field = start; field <= end;) {
            std::size_t tab = output.find('\t', field);
            if (tab == std::string::npos || tab > end) tab = end;
            fields.push_back(output.substr(field, tab - field));
            field = tab + 1;
        }
        if (fields.size() == 5) {
            Tally& tally = tallies["staging_hostile:" + fields[0]];
            tally.attempts += std::strtol(fields[2].c_str(), nullptr, 10);
            tally.successes += std::strtol(fields[3].c_str(), nullptr, 10);
            if (const DWORD error = std::strtoul(fields[4].c_str(), nullptr, 10)) tally.last_error = error;
        }
        start = end + 1;
    }
}

struct Child {
    std::wstring name;
    HANDLE handle;
};

// The setup program's running children that matter: the verifier and the engine.
std::vector<Child> watched_children(DWORD setup_pid) {
    std::vector<Child> children;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != setup_pid) continue;
        const std::wstring name = entry.szExeFile;
        const bool engine = ::lstrcmpiW(name.c_str(), L"msiexec.exe") == 0;
        const bool verifier = ::lstrcmpiW(name.c_str(), L"powershell.exe") == 0;
        if (!engine && !verifier) continue;
        if (const HANDLE handle = ::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID))
            children.push_back({engine ? L"engine" : L"verifier", handle});
    }
    ::CloseHandle(snapshot);
    return children;
}

std::wstring staging_name(DWORD pid, std::uint64_t nanoseconds, unsigned attempt) {
    return L"MirelSetup-" + std::to_wstring(pid) + L"-" + std::to_wstring(nanoseconds) + L"-" +
           std::to_wstring(attempt);
}

std::uint64_t unix_nanoseconds() {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    const std::uint64_t value = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (value - UNIX_EPOCH_FILETIME) * 100;
}

class Watcher {
public:
    Watcher(DWORD setup_pid, std::wstring temp, std::wstring work, std::wstring staging_hostile)
        : setup_pid_(setup_pid), temp_(std::move(temp)), planted_(std::move(work) + L"\\planted.msi"),
          staging_hostile_(std::move(staging_hostile)) {}

    // Only the first-instant attacks, with the directories above, until the stop event is set.
    void run_until_stopped(HANDLE stop) {
        const ULONGLONG limit = ::GetTickCount64() + WATCH_LIMIT_MS * 5;
        while (::WaitForSingleObject(stop, 0) == WAIT_TIMEOUT && ::GetTickCount64() < limit) {
            scan_round();
            if (!first_instant_round(true)) ::Sleep(1);
        }
        release_scans(true);
    }

    void run(HANDLE setup) {
        closing_ = ::CreateEventW(nullptr, FALSE, FALSE, mirel::tamper::CLOSING_EVENT);
        stood_back_ = ::CreateEventW(nullptr, FALSE, FALSE, mirel::tamper::STOOD_BACK_EVENT);
        const ULONGLONG limit = ::GetTickCount64() + WATCH_LIMIT_MS;
        while (::WaitForSingleObject(setup, 0) == WAIT_TIMEOUT && ::GetTickCount64() < limit) {
            scan_round();
            first_instant_round(false);
            const std::vector<std::wstring> staged = staged_files();
            const std::vector<Child> children = watched_children(setup_pid_);
            children_ = &children;
            // After standing back, nothing is touched again until that child has gone.
            if (children.empty()) standing_back_ = false;
            const bool open = window_open();  // answers a stand-in's request even when idle
            if (children.empty() || staged.empty() || !open) {
                squat();
                ::Sleep(2);
            } else {
                attack_round(staged, children);
            }
            children_ = nullptr;
            for (const Child& child : children) ::CloseHandle(child.handle);
        }
        release_scans(true);
        ::CloseHandle(closing_);
        ::CloseHandle(stood_back_);
    }

    void report() {
        std::string text;
        for (const auto& [phase, tallies] : tallies_) {
            for (const auto& [attack, tally] : tallies) {
                text += "attack\t" + phase + "\t" + attack + "\t" + std::to_string(tally.attempts) + "\t" +
                        std::to_string(tally.successes) + "\t" + std::to_string(tally.last_error) + "\n";
            }
        }
        for (const auto& [phase, counts] : rounds_)
            text += "rounds\t" + phase + "\t" + std::to_string(counts.first) + "\t" + std::to_string(counts.second) + "\n";
        for (const std::wstring& name : seen_) text += "seen\t" + narrow(name) + "\n";
        std::size_t intact = 0;
        for (const std::wstring& name : squats_) {
            text += "squat\t" + narrow(name) + "\n";
            const std::wstring directory = temp_ + L"\\" + name;
            if (read_file(directory + L"\\en.msi") == planted_bytes() &&
                read_file(directory + L"\\tr.msi") == planted_bytes())
                ++intact;
            // The squats are the attacker's own: gone again once they have been counted.
            ::DeleteFileW((directory + L"\\en.msi").c_str());
            ::DeleteFileW((directory + L"\\tr.msi").c_str());
            ::RemoveDirectoryW(directory.c_str());
        }
        text += "squats\t" + std::to_string(squats_.size()) + "\t" + std::to_string(intact) + "\n";
        text += "scans\t" + std::to_string(scanned_.size()) + "\t" + std::to_string(held_past_deletion_) + "\n";
        ::DeleteFileW(planted_.c_str());
        DWORD written = 0;
        ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

private:
    // The setup programs' staging directories now in the temporary folder (never a squat).
    std::vector<std::wstring> staging_directories() {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW entry;
        const HANDLE find = ::FindFirstFileW((temp_ + L"\\MirelSetup-*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !squats_.contains(name)) names.push_back(name);
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
        return names;
    }

    // One round of renaming, removing and opening for deletion every staging directory there is,
    // and with `above` every directory above it. False when there was none.
    bool first_instant_round(bool above) {
        const std::vector<std::wstring> names = staging_directories();
        Tallies& tallies = tallies_["first_instant"];
        for (const std::wstring& name : names) {
            seen_.insert(name);
            const std::wstring directory = temp_ + L"\\" + name;
            record_on_staging(tallies, "move_directory", directory, [&] {
                if (!::MoveFileExW(directory.c_str(), (directory + L".moved").c_str(), 0)) return false;
                ::MoveFileExW((directory + L".moved").c_str(), directory.c_str(), 0);
                return true;
            }());
            record_on_staging(tallies, "remove_directory", directory, ::RemoveDirectoryW(directory.c_str()) != 0);
            record_on_staging(tallies, "open_delete_directory", directory,
                              try_open(directory, DELETE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
            record_read(tallies, "directory:read", directory, directory);
            if (above) attack_above(tallies, directory);
        }
        return !names.empty();
    }

    // A run holds its staging directory until the files in it are gone; then it lets go, reopens it
    // for deletion and deletes it, and in that instant others can reach the empty directory too.
    // What happens to a staging directory that is gone a moment later is counted apart, under
    // "at_removal:". (An empty directory removed before anything was staged in it looks the same
    // here, but then its run fails.)
    static bool removed_soon(const std::wstring& staging) {
        for (int i = 0; i < 20; ++i) {
            if (!exists(staging)) return true;
            ::Sleep(5);
        }
        return false;
    }

    static void record_on_staging(Tallies& tallies, const std::string& attack, const std::wstring& staging,
                                  bool succeeded) {
        record(tallies, succeeded && removed_soon(staging) ? "at_removal:" + attack : attack, succeeded);
    }

    // A refused read counts apart when `staging` was being removed: nothing is held after that.
    static void record_read(Tallies& tallies, const std::string& attack, const std::wstring& directory,
                            const std::wstring& staging) {
        const bool opened = open_folder_for_reading(directory);
        record(tallies, !opened && removed_soon(staging) ? "at_removal:" + attack : attack, opened);
    }

    // Each staged file that appears is opened once and held for a while, as a scanner would.
    void scan_round() {
        release_scans(false);
        for (const std::wstring& name : staging_directories()) {
            for (const wchar_t* staged : STAGED_NAMES) {
                const std::wstring path = temp_ + L"\\" + name + L"\\" + staged;
                if (scanned_.contains(path)) continue;
                const HANDLE file =
                    ::CreateFileW(path.c_str(), GENERIC_READ, ALL_SHARING, nullptr, OPEN_EXISTING, 0, nullptr);
                if (file == INVALID_HANDLE_VALUE) continue;
                scanned_.insert(path);
                scans_.push_back({file, ::GetTickCount64() + SCAN_HOLD_MS, path});
            }
        }
    }

    void release_scans(bool all) {
        const ULONGLONG now = ::GetTickCount64();
        std::erase_if(scans_, [&](const Scan& scan) {
            if (!all && now < scan.until) return false;
            const bool there = exists(scan.path);
            ::CloseHandle(scan.file);
            // Where deletion waits for the last handle, the name goes as this one closes.
            if (there && !exists(scan.path)) ++held_past_deletion_;
            return true;
        });
    }

    void attack_above(Tallies& tallies, const std::wstring& staging) {
        for (const std::wstring& directory : directories_above(staging)) {
            // Nothing above a staging directory that has gone is the program's to protect.
            if (!exists(staging)) return;
            record_read(tallies, "directory_above:read", directory, staging);
            // Where the staging directory is while this one is renamed.
            const std::wstring moved = directory + L".moved";
            const std::wstring staging_moved = moved + staging.substr(directory.size());
            if (::MoveFileExW(directory.c_str(), moved.c_str(), 0)) {
                const bool held_nothing = exists(staging_moved);
                ::MoveFileExW(moved.c_str(), directory.c_str(), 0);
                if (held_nothing) record(tallies, "move_directory_above", true);
            } else {
                record(tallies, "move_directory_above", false);
            }
            if (::RemoveDirectoryW(directory.c_str())) {
                ::CreateDirectoryW(directory.c_str(), nullptr);  // empty: the staging directory had gone
            } else {
                record(tallies, "remove_directory_above", false);
            }
            const HANDLE deleter = ::CreateFileW(directory.c_str(), DELETE, ALL_SHARING, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (deleter == INVALID_HANDLE_VALUE) {
                record(tallies, "open_delete_directory_above", false);
            } else {
                ::CloseHandle(deleter);
                if (exists(staging)) record(tallies, "open_delete_directory_above", true);
            }
        }
    }

    // Files with the staged names in the setup program's staging directories (never in a squat).
    std::vector<std::wstring> staged_files() {
        std::vector<std::wstring> files;
        WIN32_FIND_DATAW entry;
        const HANDLE find = ::FindFirstFileW((temp_ + L"\\MirelSetup-*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return files;
        do {
            const std::wstring name = entry.cFileName;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || squats_.contains(name)) continue;
            seen_.insert(name);
            for (const wchar_t* staged : STAGED_NAMES) {
                const std::wstring path = temp_ + L"\\" + name + L"\\" + staged;
                if (exists(path)) files.push_back(path);
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
        return files;
    }

    // The program's names are unguessable to the attacker only through the clock: the process id
    // is public, so every name of the next moments is claimed that the attacker can afford.
    void squat() {
        if (squats_.size() >= SQUAT_LIMIT) return;
        const std::uint64_t now = unix_nanoseconds();
        for (unsigned attempt = 0; attempt < 2; ++attempt) {
            const std::wstring name = staging_name(setup_pid_, now + 1'000'000, attempt);
            const std::wstring directory = temp_ + L"\\" + name;
            if (!::CreateDirectoryW(directory.c_str(), nullptr)) continue;
            squats_.insert(name);
            write_file(directory + L"\\en.msi", planted_bytes());
            write_file(directory + L"\\tr.msi", planted_bytes());
        }
    }

    // False once a watched child has ended or asked the attacker to stand back.
    bool window_open() {
        if (standing_back_) return false;
        if (::WaitForSingleObject(closing_, 0) == WAIT_OBJECT_0) {
            standing_back_ = true;
            ::SetEvent(stood_back_);
            return false;
        }
        for (const Child& child : *children_) {
            if (::WaitForSingleObject(child.handle, 0) != WAIT_TIMEOUT) return false;
        }
        return true;
    }

    // One attack, made only while the window is open; whatever succeeds is counted.
    template <typename Attack>
    void attempt(Tallies& round, const char* name, Attack attack) {
        if (!window_open()) return;
        record(round, name, attack());
    }

    void attack_file(Tallies& round, const std::wstring& file) {
        attempt(round, "open_write", [&] { return try_open(file, GENERIC_WRITE, OPEN_EXISTING); });
        attempt(round, "truncate", [&] { return try_open(file, GENERIC_WRITE, TRUNCATE_EXISTING); });
        attempt(round, "open_delete", [&] { return try_open(file, DELETE, OPEN_EXISTING); });
        attempt(round, "delete_file", [&] { return ::DeleteFileW(file.c_str()) != 0; });
        attempt(round, "move_file", [&] {
            const std::wstring moved = file + L".moved";
            if (!::MoveFileExW(file.c_str(), moved.c_str(), 0)) return false;
            ::MoveFileExW(moved.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
            return true;
        });
        // Both ways of putting another file in its place; a success here cannot be undone.
        attempt(round, "move_over", [&] {
            if (!exists(planted_)) write_file(planted_, planted_bytes());
            return ::MoveFileExW(planted_.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
        });
        attempt(round, "replace_file", [&] {
            if (!exists(planted_)) write_file(planted_, planted_bytes());
            const bool replaced = ::ReplaceFileW(file.c_str(), planted_.c_str(), nullptr, 0, nullptr, nullptr) != 0;
            remove_replace_litter(file);
            return replaced;
        });
        attempt(round, "read", [&] {
            const HANDLE reader =
                ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            if (reader == INVALID_HANDLE_VALUE) return false;
            char chunk[512];
            DWORD read = 0;
            const bool ok = ::ReadFile(reader, chunk, sizeof chunk, &read, nullptr) && read > 0;
            ::CloseHandle(reader);
            return ok;
        });
    }

    void attack_directory(Tallies& round, const std::wstring& directory) {
        attempt(round, "move_directory", [&] {
            const std::wstring moved = directory + L".moved";
            if (!::MoveFileExW(directory.c_str(), moved.c_str(), 0)) return false;
            ::MoveFileExW(moved.c_str(), directory.c_str(), 0);
            return true;
        });
        attempt(round, "remove_directory", [&] {
            if (!::RemoveDirectoryW(directory.c_str())) return false;
            ::CreateDirectoryW(directory.c_str(), nullptr);
            return true;
        });
        attempt(round, "open_delete_directory",
                [&] { return try_open(directory, DELETE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS); });
    }

    void attack_round(const std::vector<std::wstring>& staged, const std::vector<Child>& children) {
        std::string phase = "verifier";
        for (const Child& child : children) {
            if (child.name == L"engine") phase = "engine";
        }
        Tallies round;
        std::set<std::wstring> directories;
        for (const std::wstring& file : staged) {
            attack_file(round, file);
            for (const std::wstring& directory : directories_above(file)) directories.insert(directory);
            if (phase == "engine" && window_open()) run_staging_hostile(round, staging_hostile_, file);
        }
        for (const std::wstring& directory : directories) attack_directory(round, directory);

        if (!window_open()) {
            ++rounds_[phase].second;
            return;
        }
        ++rounds_[phase].first;
        Tallies& total = tallies_[phase];
        for (const auto& [attack, tally] : round) {
            Tally& sum = total[attack];
            sum.attempts += tally.attempts;
            sum.successes += tally.successes;
            if (tally.last_error != 0) sum.last_error = tally.last_error;
        }
    }

    DWORD setup_pid_;
    std::wstring temp_;
    std::wstring planted_;
    std::wstring staging_hostile_;
    std::map<std::string, Tallies> tallies_;
    std::map<std::string, std::pair<long, long>> rounds_;
    std::set<std::wstring> seen_;
    std::set<std::wstring> squats_;
    struct Scan {
        HANDLE file;
        ULONGLONG until;
        std::wstring path;
    };
    std::vector<Scan> scans_;
    std::set<std::wstring> scanned_;
    long held_past_deletion_ = 0;
    HANDLE closing_ = nullptr;
    HANDLE stood_back_ = nullptr;
    bool standing_back_ = false;
    const std::vector<Child>* children_ = nullptr;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const DWORD setup_pid = std::wcstoul(argv[1], nullptr, 10);
    if (setup_pid == 0) {
        const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, STOP_EVENT);
        if (stop == nullptr) return 3;
        Watcher watcher(0, argv[2], argv[3], argv[4]);
        watcher.run_until_stopped(stop);
        watcher.report();
        ::CloseHandle(stop);
        return 0;
    }
    const HANDLE setup = ::OpenProcess(SYNCHRONIZE, FALSE, setup_pid);
    if (setup == nullptr) return 3;
    Watcher watcher(setup_pid, argv[2], argv[3], argv[4]);
    watcher.run(setup);
    watcher.report();
    ::CloseHandle(setup);
    return 0;
}
