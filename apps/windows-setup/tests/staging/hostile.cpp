// staging_hostile FILE ROUNDS: another process trying, round after round, to change a staged file
// or the directories above it. Anything that succeeds is undone where it can be and counted.
// Prints one line per attack and target: "attack<TAB>target<TAB>attempts<TAB>successes<TAB>last error".
// staging_hostile --hold FILE SHARE MILLISECONDS: an agent that opens the file for reading with that
// sharing, prints "held" and lets go after that long (exit code 1, silently, when it cannot).

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

struct Tally {
    long attempts = 0;
    long successes = 0;
    DWORD last_error = 0;
};

std::map<std::pair<std::wstring, std::wstring>, Tally> tallies;

void record(const wchar_t* attack, const std::wstring& target, bool succeeded) {
    Tally& tally = tallies[{attack, target}];
    ++tally.attempts;
    if (succeeded) {
        ++tally.successes;
        tally.last_error = 0;
    } else {
        tally.last_error = ::GetLastError();
    }
}

bool try_open(const std::wstring& path, DWORD access, DWORD sharing, std::vector<char>* read_into = nullptr) {
    const HANDLE file = ::CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    if (read_into != nullptr) {
        DWORD read = 0;
        ok = ::ReadFile(file, read_into->data(), static_cast<DWORD>(read_into->size()), &read, nullptr) && read > 0;
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring_view(argv[1]) == L"--hold") {
        const HANDLE file = ::CreateFileW(argv[2], GENERIC_READ, std::wcstoul(argv[3], nullptr, 10), nullptr,
                                          OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        std::printf("held\n");
        std::fflush(stdout);
        ::Sleep(std::wcstoul(argv[4], nullptr, 10));
        return 0;
    }
    if (argc != 3) return 2;
    const std::wstring file = argv[1];
    const long rounds = std::wcstol(argv[2], nullptr, 10);

    // Every directory above the file except the volume root, which cannot be renamed anyway.
    std::vector<std::wstring> directories;
    for (std::wstring path = file;;) {
        const std::size_t separator = path.find_last_of(L"\\/");
        if (separator == std::wstring::npos || separator <= 2) break;
        path.resize(separator);
        directories.push_back(path);
    }

    std::vector<char> buffer(4096);
    for (long round = 0; round < rounds; ++round) {
        const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        record(L"open_write", file, try_open(file, GENERIC_WRITE, all));
        record(L"open_delete", file, try_open(file, DELETE, all));
        record(L"delete_file", file, ::DeleteFileW(file.c_str()) != 0);
        const std::wstring moved_file = file + L".moved";
        const bool file_moved = ::MoveFileExW(file.c_str(), moved_file.c_str(), 0) != 0;
        record(L"move_file", file, file_moved);
        if (file_moved) ::MoveFileExW(moved_file.c_str(), file.c_str(), 0);
        for (const std::wstring& directory : directories) {
            const std::wstring moved = directory + L".moved";
            const bool directory_moved = ::MoveFileExW(directory.c_str(), moved.c_str(), 0) != 0;
            record(L"move_directory", directory, directory_moved);
            if (directory_moved) ::MoveFileExW(moved.c_str(), directory.c_str(), 0);
            const bool removed = ::RemoveDirectoryW(directory.c_str()) != 0;
            record(L"remove_directory", directory, removed);
            if (removed) ::CreateDirectoryW(directory.c_str(), nullptr);
        }
        // Readers are welcome: the installer engine is one.
        record(L"read", file, try_open(file, GENERIC_READ, FILE_SHARE_READ, &buffer));
    }

    for (const auto& [key, tally] : tallies)
        std::printf("%ls\t%ls\t%ld\t%ld\t%lu\n", key.first.c_str(), key.second.c_str(), tally.attempts, tally.successes,
                    tally.last_error);
    return 0;
}
