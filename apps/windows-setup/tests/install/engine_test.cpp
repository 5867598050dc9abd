// The installer engine under Wine, with a stand-in "msiexec.exe" in a prefix of its own: which
// copy runs, the command line it gets, and the exit codes that come back.
#include "install/engine.hpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>

#include "common/win32.hpp"
#include "wine_files.hpp"

namespace mirel {
namespace {

using wine_test::exists;
using wine_test::own_directory;
using wine_test::read_file;
using wine_test::same_path;
using wine_test::system_directory;
using wine_test::windows_directory;

const std::wstring ENGINE_NAME = L"\\msiexec.exe";

std::wstring standin_program() {
    return own_directory() + L"\\install_standin_engine.exe";
}

void place_engine(const std::wstring& directory) {
    ASSERT_TRUE(::CopyFileW(standin_program().c_str(), (directory + ENGINE_NAME).c_str(), FALSE))
        << "copy into " << from_wide(directory) << ": " << ::GetLastError();
}

void remove_engine(const std::wstring& directory) {
    const std::wstring path = directory + ENGINE_NAME;
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(::DeleteFileW(path.c_str())) << from_wide(path) << ": " << ::GetLastError();
}

class InstallerEngine : public ::testing::Test {
protected:
    void SetUp() override {
        // This prefix belongs to these tests alone: Wine's own engine is removed from it.
        remove_engine(system_directory());
        remove_engine(windows_directory());
        remove_engine(own_directory());
        scratch_ = wine_test::make_temp_directory(L"engine");
        record_ = scratch_ + L"\\record.txt";
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_RECORD", record_.c_str());
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_EXIT", nullptr);
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_STDOUT", nullptr);
        wchar_t directory[MAX_PATH + 1];
        original_directory_.assign(directory, ::GetCurrentDirectoryW(MAX_PATH + 1, directory));
    }

    void TearDown() override {
        ::SetCurrentDirectoryW(original_directory_.c_str());
        remove_engine(own_directory());
        wine_test::remove_tree(scratch_);
    }

    // The stand-in's record: its command line and the path it was started from.
    struct Record {
        std::string command_line;
        std::wstring program;
    };
    Record record() const {
        const std::string text = read_file(record_);
        const std::size_t split = text.find('\n');
        if (split == std::string::npos) return {};
        return {text.substr(0, split), wine_test::widen(text.substr(split + 1))};
    }

    std::wstring scratch_;
    std::wstring record_;
    std::wstring original_directory_;
};

TEST_F(InstallerEngine, ReturnsTheEngineExitCodeInFull) {
    place_engine(system_directory());
    const struct {
        const wchar_t* setting;
        std::int32_t expected;
    } cases[] = {{L"0", 0}, {L"1602", 1602}, {L"1603", 1603}, {L"3010", 3010}, {L"1641", 1641},
                 {L"3221225477", -1073741819}};  // 0xC0000005, an access violation
    for (const auto& c : cases) {
        ::SetEnvironmentVariableW(L"MIREL_STANDIN_EXIT", c.setting);
        const Result<std::int32_t> code = run_installer_engine(R"(C:\T\en.msi)", InstallMode::Basic);
        ASSERT_TRUE(code.has_value()) << code.error().text();
        EXPECT_EQ(*code, c.expected);
    }
}

TEST_F(InstallerEngine, BasicAndAdvancedCommandLinesReachTheEngineExactly) {
    place_engine(system_directory());
    const struct {
        const char* path;
        InstallMode mode;
        const char* expected;
    } cases[] = {
        {R"(C:\users\A\Temp\MirelSetup-812-7-0\en.msi)", InstallMode::Basic,
         R"("msiexec.exe" /i C:\users\A\Temp\MirelSetup-812-7-0\en.msi /norestart /passive )"
         R"(MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")"},
        {R"(C:\users\A\Temp\MirelSetup-812-7-0\tr.msi)", InstallMode::Advanced,
         R"("msiexec.exe" /i C:\users\A\Temp\MirelSetup-812-7-0\tr.msi /norestart )"
         R"(MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")"},
        {R"(C:\users\Test User\Temp\MirelSetup-9-7-1\en.msi)", InstallMode::Basic,
         R"("msiexec.exe" /i "C:\users\Test User\Temp\MirelSetup-9-7-1\en.msi" /norestart /passive )"
         R"(MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")"},
        {"C:\\users\\T\xC3\xBCrk\xC3\xA7" "e \xC4\xB0\\en.msi", InstallMode::Advanced,
         "\"msiexec.exe\" /i \"C:\\users\\T\xC3\xBCrk\xC3\xA7" "e \xC4\xB0\\en.msi\" /norestart "
         "MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT=\"\""},
    };
    for (const auto& c : cases) {
        ::DeleteFileW(record_.c_str());
        const Result<std::int32_t> code = run_installer_engine(c.path, c.mode);
        ASSERT_TRUE(code.has_value()) << code.error().text();
        EXPECT_EQ(record().command_line, c.expected);
    }
}

TEST_F(InstallerEngine, RunsTheSystemDirectorysCopyElseTheWindowsDirectorysAndNoOther) {
    // Copies in the current directory, beside the program and on the path never run.
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch_.c_str()));
    wchar_t path[32768];
    const std::wstring original_path(path, ::GetEnvironmentVariableW(L"PATH", path, 32768));
    ::SetEnvironmentVariableW(L"PATH", (scratch_ + L";" + own_directory() + L";" + original_path).c_str());
    const struct {
        std::vector<std::wstring> copies;
        std::wstring runs;  // empty: none
    } cases[] = {{{system_directory(), windows_directory(), scratch_, own_directory()}, system_directory()},
                 {{windows_directory(), scratch_, own_directory()}, windows_directory()},
                 {{scratch_, own_directory()}, L""}};
    for (const auto& c : cases) {
        for (const std::wstring& directory : c.copies) place_engine(directory);
        ::DeleteFileW(record_.c_str());
        const Result<std::int32_t> code = run_installer_engine(R"(C:\T\en.msi)", InstallMode::Basic);
        for (const std::wstring& directory : c.copies) remove_engine(directory);
        if (c.runs.empty()) {
            ASSERT_FALSE(code.has_value());
            EXPECT_EQ(code.error().text(), "program not found");
            EXPECT_FALSE(exists(record_));
        } else {
            ASSERT_TRUE(code.has_value()) << code.error().text();
            EXPECT_TRUE(same_path(record().program, c.runs + ENGINE_NAME)) << from_wide(record().program);
        }
    }
    ::SetEnvironmentVariableW(L"PATH", original_path.c_str());
}

TEST_F(InstallerEngine, NulInThePackagePathStartsNothing) {
    place_engine(system_directory());
    const Result<std::int32_t> code = run_installer_engine(std::string("C:\\T\\en.msi\0x", 13), InstallMode::Basic);
    ASSERT_FALSE(code.has_value());
    EXPECT_EQ(code.error().text(), "nul byte found in provided data");
    EXPECT_FALSE(exists(record_));
}

TEST_F(InstallerEngine, AnEngineFileThatCannotStartGivesTheOperatingSystemText) {
    const std::wstring path = system_directory() + ENGINE_NAME;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, "not a program", 13, &written, nullptr);
    ::CloseHandle(file);

    const Result<std::int32_t> code = run_installer_engine(R"(C:\T\en.msi)", InstallMode::Basic);
    ASSERT_FALSE(code.has_value());
    EXPECT_TRUE(std::regex_search(code.error().text(), std::regex(R"(^.+ \(os error [1-9][0-9]*\)$|^OS Error )")))
        << code.error().text();
}

TEST_F(InstallerEngine, StartsInTheSystemDirectoryWithItsStandardHandlesAndNoOther) {
    place_engine(system_directory());
    const std::wstring output = scratch_ + L"\\stdout.txt";
    const std::wstring directory = scratch_ + L"\\cwd.txt";
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const HANDLE file = ::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                      0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // Inheritable, but not a standard handle: the engine must not get it.
    const UniqueHandle event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    const HANDLE original = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, file);
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_STDOUT", L"engine output");
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_CWD", directory.c_str());
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_SIGNAL",
                              std::to_wstring(reinterpret_cast<INT_PTR>(event.get())).c_str());
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch_.c_str()));

    const std::wstring startup = scratch_ + L"\\startup.txt";
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_STARTUP", startup.c_str());

    const Result<std::int32_t> code = run_installer_engine(R"(C:\T\en.msi)", InstallMode::Basic);
    ::SetStdHandle(STD_OUTPUT_HANDLE, original);
    ::CloseHandle(file);
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_CWD", nullptr);
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_SIGNAL", nullptr);
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_STARTUP", nullptr);
    ASSERT_TRUE(code.has_value()) << code.error().text();
    EXPECT_EQ(read_file(output), "engine output");
    EXPECT_EQ(read_file(startup), "standard handles");
    EXPECT_TRUE(same_path(wine_test::widen(read_file(directory)), system_directory())) << read_file(directory);
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the engine inherited a handle that is not a standard one";
}

// Standard handles that no child can inherit, as a program started with unshared ones has: the
// engine is told of none rather than of numbers that mean something else in it.
TEST_F(InstallerEngine, NamesNoStandardHandlesThatItCannotHandOn) {
    place_engine(system_directory());
    const std::wstring startup = scratch_ + L"\\startup.txt";
    const UniqueHandle own(::CreateFileW((scratch_ + L"\\own.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(own);
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE originals[3];
    for (int i = 0; i < 3; ++i) {
        originals[i] = ::GetStdHandle(kinds[i]);
        ::SetStdHandle(kinds[i], own.get());
    }
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_STARTUP", startup.c_str());
    const Result<std::int32_t> code = run_installer_engine(R"(C:\T\en.msi)", InstallMode::Basic);
    for (int i = 0; i < 3; ++i) ::SetStdHandle(kinds[i], originals[i]);
    ::SetEnvironmentVariableW(L"MIREL_STANDIN_STARTUP", nullptr);
    ASSERT_TRUE(code.has_value()) << code.error().text();
    EXPECT_EQ(read_file(startup), "none");
}

}  // namespace
}  // namespace mirel
