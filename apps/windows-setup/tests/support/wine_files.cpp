#include "wine_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>

namespace mirel::wine_test {

std::unique_ptr<Process> start_process(const LaunchRequest& request) {
    auto started = Process::start(request);
    if (!started) {
        ADD_FAILURE() << started.error().text();
        return nullptr;
    }
    return std::move(*started);
}

std::wstring windows_path(std::string_view linux_path) {
    std::wstring path = L"Z:" + widen(linux_path);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring system_directory() {
    wchar_t buffer[MAX_PATH + 1];
    return std::wstring(buffer, ::GetSystemDirectoryW(buffer, MAX_PATH + 1));
}

std::wstring windows_directory() {
    wchar_t buffer[MAX_PATH + 1];
    return std::wstring(buffer, ::GetWindowsDirectoryW(buffer, MAX_PATH + 1));
}

std::wstring own_directory() {
    std::vector<wchar_t> buffer(32768);
    const std::wstring path(buffer.data(), ::GetModuleFileNameW(nullptr, buffer.data(), 32768));
    return path.substr(0, path.find_last_of(L'\\'));
}

bool exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string read_file(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    return bytes;
}

std::string read_file_holding(const std::wstring& path, std::string_view part, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    std::string bytes = read_file(path);
    while (bytes.find(part) == std::string::npos && ::GetTickCount64() < deadline) {
        ::Sleep(100);
        bytes = read_file(path);
    }
    return bytes;
}

bool make_hard_links(const std::wstring& file, std::string_view bytes, const std::vector<std::wstring>& names) {
    const HANDLE created = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (created == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = ::WriteFile(created, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    ::CloseHandle(created);
    return whole && std::ranges::all_of(names, [&](const std::wstring& name) {
               return ::CreateHardLinkW(name.c_str(), file.c_str(), nullptr) != FALSE;
           });
}

bool same_path(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::vector<std::wstring> entries(const std::wstring& directory, std::wstring_view pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((directory + L"\\" + std::wstring(pattern)).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

bool remove_tree(const std::wstring& path) {
    // An empty path would make "\*" below: the root of the current drive.
    if (path.empty()) return false;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(child);
            } else {
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    return ::RemoveDirectoryW(path.c_str()) || !exists(path);
}

namespace {

// The Unix path of a Windows path whose last component need not exist yet; none outside Wine.
std::optional<std::wstring> unix_path(const std::wstring& path) {
    using UnixFileName = char* CDECL(const wchar_t*);
    const auto to_unix = reinterpret_cast<UnixFileName*>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const std::size_t separator = path.find_last_of(L'\\');
    char* parent = to_unix == nullptr ? nullptr : to_unix(path.substr(0, separator).c_str());
    if (parent == nullptr) return std::nullopt;
    std::wstring unix = widen(parent) + L"/" + path.substr(separator + 1);
    ::HeapFree(::GetProcessHeap(), 0, parent);
    return unix;
}

// Runs a Unix program, which Wine starts when named by its Z: path, until `done` holds (or ten
// seconds have passed): Wine tells neither its end nor its exit code reliably.
bool run_unix(const wchar_t* program, std::vector<std::wstring> arguments, const std::function<bool()>& done) {
    LaunchRequest request;
    request.program = program;
    request.arguments = std::move(arguments);
    request.no_console_window = true;
    const auto started = Process::start(request);  // kept until the end: it is ended when it goes
    if (!started) return false;
    for (int i = 0; i < 1000 && !done(); ++i) ::Sleep(10);
    return done();
}

}  // namespace

bool make_directory_link(const std::wstring& link, const std::wstring& target) {
    const std::optional<std::wstring> from = unix_path(link);
    const std::optional<std::wstring> to = unix_path(target);
    return from && to && run_unix(L"Z:\\bin\\ln", {L"-s", *to, *from}, [&] { return exists(link); });
}

bool remove_directory_link(const std::wstring& link) {
    const std::optional<std::wstring> unix = unix_path(link);
    return unix && run_unix(L"Z:\\bin\\rm", {*unix}, [&] { return !exists(link); });
}

std::wstring make_temp_directory(std::wstring_view tag) {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1];
    std::wstring root(base, ::GetTempPathW(MAX_PATH + 1, base));
    if (!root.empty() && root.back() != L'\\') root.push_back(L'\\');
    for (;;) {
        const std::wstring path = root + L"mirel-" + std::wstring(tag) + L"-" +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(counter++);
        if (::CreateDirectoryW(path.c_str(), nullptr)) return path;
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create a temporary directory, error " << error;
            return path;
        }
    }
}

TempDir::~TempDir() {
    if (!remove_tree(path_)) ADD_FAILURE() << "the test left " << narrow(path_) << " behind";
}

}  // namespace mirel::wine_test
