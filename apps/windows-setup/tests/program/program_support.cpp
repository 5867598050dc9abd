#include "program_support.hpp"

#include <msi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace mirel::program_test {
namespace {

constexpr DWORD POLL_MS = 100;
constexpr DWORD UNINSTALL_TIMEOUT_MS = 120'000;

void remove_tree(const std::wstring& directory) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = directory + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(path);
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(directory.c_str());
}

std::vector<std::wstring> names_in(const std::wstring& directory, const std::wstring& pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((directory + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring temporary_path() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

}  // namespace

std::wstring widen(std::string_view utf8) { return td::widen(utf8); }
std::string narrow(std::wstring_view text) { return td::narrow(text); }

std::wstring windows_path(std::string_view linux_path) {
    std::wstring path = L"Z:" + widen(linux_path);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring system_directory() {
    wchar_t buffer[MAX_PATH + 1];
    return std::wstring(buffer, ::GetSystemDirectoryW(buffer, MAX_PATH + 1));
}

TestFolder::TestFolder(std::wstring_view temp_leaf) {
    static std::atomic<unsigned> counter{0};
    root_ = temporary_path() + L"\\mirel-program-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    remove_tree(root_);
    temp_ = root_ + L"\\" + std::wstring(temp_leaf);
    scratch_ = root_ + L"\\scratch";
    ::CreateDirectoryW(root_.c_str(), nullptr);
    ::CreateDirectoryW(temp_.c_str(), nullptr);
    ::CreateDirectoryW(scratch_.c_str(), nullptr);
}

TestFolder::~TestFolder() { remove_tree(root_); }

void TestFolder::clear() const {
    remove_tree(temp_);
    ::CreateDirectoryW(temp_.c_str(), nullptr);
}

std::vector<std::wstring> TestFolder::entries() const { return names_in(temp_, L"*"); }

std::vector<std::wstring> TestFolder::staging_directories() const { return names_in(temp_, L"MirelSetup-*"); }

std::unique_ptr<td::Process> start_setup(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                         const TestFolder& folder, const Environment& more,
                                         bool capture_standard_error, std::string* error) {
    td::LaunchRequest request;
    request.program = program;
    request.arguments = arguments;
    request.environment = {{L"TMP", folder.path()}, {L"TEMP", folder.path()}};
    request.environment.insert(request.environment.end(), more.begin(), more.end());
    request.capture_standard_error = capture_standard_error;
    auto [process, reason] = td::Process::start(request);
    if (error != nullptr) *error = reason;
    return std::move(process);
}

std::unique_ptr<td::Process> start_program(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    td::LaunchRequest request;
    request.program = program;
    request.arguments = arguments;
    return td::Process::start(request).first;
}

HWND wait_for_mode_dialog(DWORD process_id, std::wstring_view caption, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        for (HWND window : td::visible_windows(process_id)) {
            if (td::window_text(window) == caption && ::GetDlgItem(window, BASIC_BUTTON) != nullptr) return window;
        }
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(POLL_MS);
    }
}

bool press(HWND window, int button_id) {
    return td::click_button(window, button_id) && td::wait_for_window_gone(window, 10'000);
}

std::optional<ShownBox> wait_for_message_box(DWORD process_id, std::wstring_view caption, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        for (HWND window : td::visible_windows(process_id)) {
            if (td::window_text(window) != caption) continue;
            if (std::optional<std::wstring> text = td::message_box_text(window)) return ShownBox{window, *text};
        }
        if (::GetTickCount64() >= deadline) return std::nullopt;
        ::Sleep(POLL_MS);
    }
}

Ending wait_for_end(td::Process& process, DWORD timeout_ms) {
    Ending ending;
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (std::optional<std::uint32_t> code = process.wait_for_exit(POLL_MS)) {
            ending.exit_code = code;
            return ending;
        }
        // A window that the run should not show may wait for an answer for ever.
        for (HWND window : td::visible_windows(process.id())) ending.windows.push_back(td::window_text(window));
        if (!ending.windows.empty() || ::GetTickCount64() >= deadline) return ending;
    }
}

void expect_quiet_end(td::Process& process, std::uint32_t exit_code) {
    const Ending ending = wait_for_end(process);
    ASSERT_TRUE(ending.windows.empty()) << "the program showed \"" << narrow(ending.windows.front()) << "\"";
    ASSERT_TRUE(ending.exit_code.has_value()) << "the program did not end";
    EXPECT_EQ(*ending.exit_code, exit_code);
}

bool file_exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool wait_for_file(const std::wstring& path, DWORD timeout_ms) {
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    while (!file_exists(path)) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(POLL_MS);
    }
    return true;
}

std::string read_file(const std::wstring& path) {
    // The writer may still hold the file; it shares reading.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    return bytes;
}

bool product_installed(const wchar_t* product_code) {
    return ::MsiQueryProductStateW(product_code) == INSTALLSTATE_DEFAULT;
}

std::wstring product_info(const wchar_t* product_code, const wchar_t* property) {
    wchar_t buffer[1024];
    DWORD size = 1024;
    if (::MsiGetProductInfoW(product_code, property, buffer, &size) != ERROR_SUCCESS) return {};
    return std::wstring(buffer, size);
}

bool uninstall(const wchar_t* product_code) {
    if (!product_installed(product_code)) return true;
    std::unique_ptr<td::Process> engine =
        start_program(system_directory() + L"\\msiexec.exe", {L"/x", product_code, L"/qn"});
    if (engine == nullptr || !engine->wait_for_exit(UNINSTALL_TIMEOUT_MS)) return false;
    return !product_installed(product_code);
}

}  // namespace mirel::program_test
