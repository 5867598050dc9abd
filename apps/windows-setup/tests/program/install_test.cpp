// The whole program installing the English sample package for real with Wine's installer engine:
// an update run handed over by a parent process, and an interactive run answered through the
// windows that a user sees.
#include <gtest/gtest.h>

#include <windows.h>

#include <tuple>

#include "program_support.hpp"

namespace mirel::program_test {
namespace {

const std::wstring TITLE = L"Mirel - Oruvan Setup";
const std::wstring LAUNCH_QUESTION = L"Mirel is installed. Would you like to launch it now?";
// How long a started application may take to leave its marker, and how long to watch for one
// that must not appear.
constexpr DWORD MARKER_TIMEOUT_MS = 30'000;
constexpr DWORD NO_MARKER_WAIT_MS = 5'000;

class RealInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(uninstall(ENGLISH_PRODUCT)) << "a previous installation could not be removed";
        ASSERT_TRUE(uninstall(TURKISH_PRODUCT)) << "a previous installation could not be removed";
        ::DeleteFileW(shell_marker().c_str());
    }
    void TearDown() override {
        setup_.reset();  // a run cut short still holds the installer engine
        EXPECT_TRUE(uninstall(ENGLISH_PRODUCT));
        EXPECT_TRUE(folder_.staging_directories().empty());
    }

    // The program had the desktop's shell start the installed application: the marker, which names
    // the installed file, is in the shell's %TEMP%, not in the one the program handed down.
    void expect_application_started() {
        const std::string command_line = read_file_holding(shell_marker(), "mirel-desktop.exe", MARKER_TIMEOUT_MS);
        ASSERT_FALSE(command_line.empty()) << "the application was not started through the shell";
        EXPECT_FALSE(exists(folder_.marker())) << "started with the setup program's rights and environment";
        const std::wstring location = product_info(ENGLISH_PRODUCT, L"InstallLocation");
        ASSERT_FALSE(location.empty());
        EXPECT_NE(command_line.find(narrow(location)), std::string::npos) << command_line;
        EXPECT_NE(command_line.find("mirel-desktop.exe"), std::string::npos) << command_line;
    }

    // An interactive run answered with Basic, up to the launch question that follows the installation.
    void run_basic_to_launch_question() {
        setup_ = start_setup(setup_program(), {}, folder_);
        ASSERT_TRUE(setup_);
        const HWND dialog = await_window(*setup_, TITLE);
        ASSERT_NE(dialog, nullptr) << "no mode dialog";
        ASSERT_TRUE(click_and_wait(dialog, BASIC_BUTTON));
        const std::optional<ShownBox> question = wait_for_message_box(setup_->id(), TITLE);
        ASSERT_TRUE(question.has_value()) << "no launch question";
        EXPECT_EQ(question->text, LAUNCH_QUESTION) << folder_.verifier_log();
        question_ = *question;
    }

    TestFolder folder_;
    std::unique_ptr<td::Process> setup_;
    ShownBox question_;
};

TEST_F(RealInstallation, AnUpdateRunWaitsForItsParentThenInstallsAndLaunchesWithoutAsking) {
    constexpr DWORD PARENT_LIFETIME_MS = 12'000;
    std::unique_ptr<td::Process> parent =
        start_program(windows_path(MIREL_TEST_SLEEPER), {std::to_wstring(PARENT_LIFETIME_MS)});
    ASSERT_TRUE(parent);
    std::unique_ptr<td::Process> setup =
        start_setup(setup_program(), {L"--update", L"--wait-pid=" + std::to_wstring(parent->id())}, folder_);
    ASSERT_TRUE(setup);

    // Nothing may be installed, and the run may not end, while the parent still runs.
    while (!parent->has_exited()) {
        ASSERT_FALSE(product_installed(ENGLISH_PRODUCT)) << "installed while the update parent was running";
        ASSERT_FALSE(setup->has_exited()) << "ended while the update parent was running";
        ::Sleep(100);
    }
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 0u));
    EXPECT_TRUE(product_installed(ENGLISH_PRODUCT));
    EXPECT_EQ(product_info(ENGLISH_PRODUCT, L"Language"), L"1033");
    ASSERT_NO_FATAL_FAILURE(expect_application_started());
    EXPECT_TRUE(folder_.staging_directories().empty());
}

TEST_F(RealInstallation, AnUpdateRunWhoseParentHasAlreadyEndedDoesNotWait) {
    std::unique_ptr<td::Process> parent = start_program(windows_path(MIREL_TEST_SLEEPER), {L"0"});
    ASSERT_TRUE(parent);
    ASSERT_TRUE(parent->wait_for_exit(30'000).has_value());
    const std::wstring parent_id = std::to_wstring(parent->id());
    parent.reset();  // with its last handle closed, the id names no process

    const ULONGLONG started = ::GetTickCount64();
    std::unique_ptr<td::Process> setup =
        start_setup(setup_program(), {L"--wait-pid=" + parent_id, L"--update"}, folder_);
    ASSERT_TRUE(setup);
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 0u));
    // A wait for a running process would take its full two minutes.
    EXPECT_LT(::GetTickCount64() - started, 60'000u);
    EXPECT_TRUE(product_installed(ENGLISH_PRODUCT));
    ASSERT_NO_FATAL_FAILURE(expect_application_started());
}

TEST_F(RealInstallation, BasicInstallsAndYesLaunchesTheApplication) {
    ASSERT_NO_FATAL_FAILURE(run_basic_to_launch_question());
    // The installation is complete before the question is asked.
    EXPECT_TRUE(product_installed(ENGLISH_PRODUCT));
    EXPECT_FALSE(exists(shell_marker()));
    ASSERT_TRUE(click_and_wait(question_.window, IDYES));

    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup_, 0u));
    ASSERT_NO_FATAL_FAILURE(expect_application_started());
}

TEST_F(RealInstallation, NoEndsSuccessfullyAndStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(run_basic_to_launch_question());
    ASSERT_TRUE(click_and_wait(question_.window, IDNO));

    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup_, 0u));
    EXPECT_TRUE(product_installed(ENGLISH_PRODUCT));
    EXPECT_TRUE(folder_.staging_directories().empty());
    ::Sleep(NO_MARKER_WAIT_MS);
    EXPECT_FALSE(exists(shell_marker()) || exists(folder_.marker())) << "the application was started after No";
}

// As a deployment tool runs it: the language named, or the display language's; no window of the
// program or of the engine at any time, not even the box in which the engine explains a refusal
// when it has an interface; nothing started, nothing left.
TEST_F(RealInstallation, AQuietRunInstallsTheNamedLanguageShowingAndStartingNothing) {
    const std::tuple<std::wstring, std::vector<std::wstring>, std::uint32_t, const wchar_t*> runs[] = {
        {setup_program(), {L"--quiet"}, 0, ENGLISH_PRODUCT},
        {setup_program(), {L"--language=tr", L"--quiet"}, 0, TURKISH_PRODUCT},
        {windows_path(MIREL_TEST_REFUSED_SETUP), {L"--quiet"}, 1603, nullptr}};
    for (const auto& [program, arguments, exit_code, installed] : runs) {
        SCOPED_TRACE(narrow(program + L" " + arguments[0]));
        std::unique_ptr<td::Process> setup = start_setup(program, arguments, folder_);
        ASSERT_TRUE(setup);
        ASSERT_NO_FATAL_FAILURE(
            expect_end_without_window(*setup, exit_code, nullptr, wine_test::EXIT_TIMEOUT_MS, true));
        for (const wchar_t* product : {ENGLISH_PRODUCT, TURKISH_PRODUCT})
            EXPECT_EQ(product_installed(product), product == installed) << narrow(product);
        ::Sleep(NO_MARKER_WAIT_MS);
        EXPECT_FALSE(exists(folder_.marker())) << "the application was started";
        EXPECT_TRUE(folder_.entries().empty()) << "left in the temporary directory";
        EXPECT_TRUE(uninstall(ENGLISH_PRODUCT) && uninstall(TURKISH_PRODUCT));
    }
}

}  // namespace
}  // namespace mirel::program_test
