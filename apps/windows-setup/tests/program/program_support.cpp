#include "program_support.hpp"

#include <msi.h>

#include <gtest/gtest.h>

#include <iostream>

namespace mirel::program_test {
namespace {

constexpr DWORD POLL_MS = 100;
constexpr DWORD UNINSTALL_TIMEOUT_MS = 120'000;

}  // namespace

TestFolder::TestFolder(std::wstring_view temp_leaf, TempPlace place)
    : root_(wine_test::make_temp_directory(L"program")), scratch_(root_ + L"\\scratch") {
    std::wstring parent = root_;
    std::wstring resolved_parent = root_;
    if (place == TempPlace::ThroughALink) {
        resolved_parent = root_ + L"\\container";
        link_ = root_ + L"\\profile";
        ::CreateDirectoryW(resolved_parent.c_str(), nullptr);
        EXPECT_TRUE(wine_test::make_directory_link(link_, resolved_parent)) << "no link at " << narrow(link_);
        parent = link_;
    }
    while (place == TempPlace::Deep && parent.size() < 215) {
        parent += L"\\" + std::wstring(16, L'd');
        ::CreateDirectoryW(parent.c_str(), nullptr);
        resolved_parent = parent;
    }
    temp_ = parent + L"\\" + std::wstring(temp_leaf);
    resolved_ = resolved_parent + L"\\" + std::wstring(temp_leaf);
    ::CreateDirectoryW(temp_.c_str(), nullptr);
    ::CreateDirectoryW(scratch_.c_str(), nullptr);
}

TestFolder::~TestFolder() {
    if (::testing::Test::HasFailure()) {
        for (int run = 1; run <= runs_; ++run) {
            const std::wstring log = scratch_ + L"\\setup-" + std::to_wstring(run) + L".log";
            std::cout << "log of setup run " << run << ":\n" << (exists(log) ? read_file(log) : "(none)\n");
        }
        std::cout << verifier_log() << "\n";
    }
    if (!link_.empty()) wine_test::remove_directory_link(link_);
    // Wine's installer engine lets go of its own log a moment after it has ended.
    for (int tries = 0; !wine_test::remove_tree(root_) && tries < 50; ++tries) ::Sleep(POLL_MS);
}

void TestFolder::clear() const {
    wine_test::remove_tree(temp_);
    ::CreateDirectoryW(temp_.c_str(), nullptr);
}

std::vector<std::wstring> TestFolder::entries() const {
    return wine_test::entries(temp_);
}

std::vector<std::wstring> TestFolder::staging_directories() const {
    return wine_test::entries(temp_, L"MirelSetup-*");
}

std::string TestFolder::verifier_log() const {
    const std::wstring log = scratch_ + L"\\verifier.log";
    return exists(log) ? "signature verifier runs:\n" + read_file(log) : "no signature verifier run recorded";
}

std::vector<std::wstring> TestFolder::logged(std::vector<std::wstring> arguments) const {
    arguments.push_back(L"--log=" + scratch_ + L"\\setup-" + std::to_wstring(++runs_) + L".log");
    return arguments;
}

std::wstring shell_marker() {
    wchar_t temp[MAX_PATH + 1];
    return std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp)) + L"mirel-desktop-started.txt";
}

std::unique_ptr<td::Process> start_setup(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                         const TestFolder& folder, const Environment& more,
                                         bool capture_standard_error) {
    Environment environment = wine_test::temp_environment(folder.path());
    environment.emplace_back(L"MIREL_TEST_VERIFIER_LOG", folder.scratch() + L"\\verifier.log");
    environment.insert(environment.end(), more.begin(), more.end());
    return wine_test::start_setup(arguments, std::move(environment), capture_standard_error, program);
}

std::unique_ptr<td::Process> start_program(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    td::LaunchRequest request;
    request.program = program;
    request.arguments = arguments;
    return wine_test::start_process(request);
}

std::optional<ShownBox> wait_for_message_box(DWORD process_id, std::wstring_view caption) {
    const ULONGLONG deadline = ::GetTickCount64() + wine_test::WINDOW_TIMEOUT_MS;
    for (;;) {
        for (HWND window : td::visible_windows(process_id)) {
            if (td::window_text(window) != caption) continue;
            if (std::optional<std::wstring> text = td::message_box_text(window)) {
                ShownBox box{window, *text, td::message_box_icon(window), {}};
                for (const td::Control& button : td::buttons(window)) box.buttons.push_back(button.id);
                return box;
            }
        }
        if (::GetTickCount64() >= deadline) return std::nullopt;
        ::Sleep(POLL_MS);
    }
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
