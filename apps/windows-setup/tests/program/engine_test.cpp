// The whole program against a stand-in installer engine (this prefix's system32\msiexec.exe): the
// command line that the program gives the engine, and what each engine exit code leads to.
#include <gtest/gtest.h>

#include <windows.h>

#include "program_support.hpp"

namespace mirel::program_test {
namespace {

const std::wstring TITLE = L"Mirel - Oruvan Setup";
const std::wstring FAILED = L"Mirel installation could not be completed.";
const std::wstring LAUNCH_QUESTION = L"Mirel is installed. Would you like to launch it now?";
const std::wstring REBOOT_QUESTION =
    L"Mirel is installed. Windows requires a restart. Would you like to launch it now?";

// One run of the program up to the engine: the mode dialog answered with `mode_button`, the
// stand-in engine told to exit with `engine_exit`.
class StandInEngine : public ::testing::Test {
protected:
    explicit StandInEngine(std::wstring_view temp_leaf = L"temp") : folder_(temp_leaf) {}

    void SetUp() override {
        ASSERT_TRUE(exists(system_directory() + L"\\msiexec.exe"));
        record_ = folder_.scratch() + L"\\engine.txt";
    }
    void TearDown() override {
        // A run cut short by a failed expectation is ended here and leaves its staging behind.
        if (setup_ && !setup_->has_exited()) return;
        EXPECT_TRUE(folder_.staging_directories().empty()) << "a staging directory was left behind";
    }

    void run_to_engine(int mode_button, const std::wstring& engine_exit) {
        setup_ = start_setup(setup_program(), {}, folder_,
                             {{L"MIREL_STANDIN_RECORD", record_}, {L"MIREL_STANDIN_EXIT", engine_exit}});
        ASSERT_TRUE(setup_);
        const HWND dialog = wait_for_mode_dialog(setup_->id(), TITLE);
        ASSERT_NE(dialog, nullptr) << "no mode dialog";
        ASSERT_TRUE(press(dialog, mode_button));
    }

    // The engine's command line, as the stand-in recorded it.
    std::string engine_command_line() const {
        const std::string record = read_file(record_);
        return record.substr(0, record.find('\n'));
    }

    // The command line that the program must give the engine for its package "<temp>\MirelSetup-
    // <pid>-<time>-0\en.msi", with the time (only known to the program) replaced by "T".
    std::string engine_command_line_with_time_masked() const {
        const std::string line = engine_command_line();
        const std::string marker = "\\MirelSetup-" + std::to_string(setup_->id()) + "-";
        const std::size_t start = line.find(marker);
        if (start == std::string::npos) return line;
        const std::size_t digits = start + marker.size();
        std::size_t end = digits;
        while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
        if (end == digits) return line;
        return line.substr(0, digits) + "T" + line.substr(end);
    }

    // The staged package, with the time (only known to the program) written as "T".
    std::string staged_package() const {
        return narrow(folder_.path()) + "\\MirelSetup-" + std::to_string(setup_->id()) + "-T-0\\en.msi";
    }

    static std::string command_line_for(const std::string& package_argument, bool passive) {
        return "\"msiexec.exe\" /i " + package_argument + " /norestart" + (passive ? " /passive" : "") +
               " MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT=\"\"";
    }

    void expect_question_then_answer(const std::wstring& question, int answer) {
        const std::optional<ShownBox> box = wait_for_message_box(setup_->id(), TITLE);
        ASSERT_TRUE(box.has_value()) << "no question after the engine";
        EXPECT_EQ(box->text, question) << narrow(box->text);
        ASSERT_TRUE(press(box->window, answer));
    }

    void expect_failure_box(const std::wstring& detail) {
        const std::optional<ShownBox> box = wait_for_message_box(setup_->id(), TITLE);
        ASSERT_TRUE(box.has_value()) << "no failure box";
        EXPECT_EQ(box->text, FAILED + L"\n\n" + detail) << narrow(box->text);
        // The staging directory is gone before the failure is reported.
        EXPECT_TRUE(folder_.staging_directories().empty());
        ASSERT_TRUE(press(box->window, IDOK));
    }

    TestFolder folder_;
    std::wstring record_;
    std::unique_ptr<td::Process> setup_;
};

TEST_F(StandInEngine, BasicRunsTheEngineWithThePassiveSwitchOnTheStagedPackage) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"0"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(LAUNCH_QUESTION, IDNO));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 0));
    EXPECT_EQ(engine_command_line_with_time_masked(), command_line_for(staged_package(), true)) << engine_command_line();
}

TEST_F(StandInEngine, AdvancedRunsTheEngineWithItsFullInterface) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(ADVANCED_BUTTON, L"0"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(LAUNCH_QUESTION, IDNO));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 0));
    EXPECT_EQ(engine_command_line_with_time_masked(), command_line_for(staged_package(), false)) << engine_command_line();
}

class StandInEngineInAFolderWithASpace : public StandInEngine {
protected:
    StandInEngineInAFolderWithASpace() : StandInEngine(L"Test User temp") {}
};

TEST_F(StandInEngineInAFolderWithASpace, QuotesThePackagePath) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"0"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(LAUNCH_QUESTION, IDNO));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 0));
    ASSERT_NE(folder_.path().find(L' '), std::wstring::npos);
    EXPECT_EQ(engine_command_line_with_time_masked(), command_line_for("\"" + staged_package() + "\"", true))
        << engine_command_line();
}

TEST_F(StandInEngine, ARestartInitiatedAsksTheRebootQuestion) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"1641"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(REBOOT_QUESTION, IDNO));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 0));
}

TEST_F(StandInEngine, ARestartRequiredAsksTheRebootQuestion) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(ADVANCED_BUTTON, L"3010"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(REBOOT_QUESTION, IDNO));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 0));
}

TEST_F(StandInEngine, CancelledInsideTheEngineEndsQuietly) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"1602"));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 0));
    EXPECT_FALSE(engine_command_line().empty()) << "the engine was not run";
}

TEST_F(StandInEngine, TheGeneralFailureIsReportedWithItsCode) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"1603"));
    ASSERT_NO_FATAL_FAILURE(expect_failure_box(FAILED + L" (1603)"));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 1));
}

TEST_F(StandInEngine, AnEngineCrashIsReportedWithItsNegativeCode) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(ADVANCED_BUTTON, L"3221225477"));  // 0xC0000005
    ASSERT_NO_FATAL_FAILURE(expect_failure_box(FAILED + L" (-1073741819)"));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 1));
}

// The stand-in installs nothing, so after "success" Windows Installer knows no install location.
TEST_F(StandInEngine, YesAfterAnInstallationThatRecordedNothingReportsTheMissingLocation) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"0"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(LAUNCH_QUESTION, IDYES));
    ASSERT_NO_FATAL_FAILURE(expect_failure_box(L"install_location"));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 1));
    EXPECT_FALSE(exists(folder_.marker()));
}

TEST_F(StandInEngine, ARestartRequiredThenYesAlsoLooksTheProductUp) {
    ASSERT_NO_FATAL_FAILURE(run_to_engine(BASIC_BUTTON, L"3010"));
    ASSERT_NO_FATAL_FAILURE(expect_question_then_answer(REBOOT_QUESTION, IDYES));
    ASSERT_NO_FATAL_FAILURE(expect_failure_box(L"install_location"));
    ASSERT_NO_FATAL_FAILURE(expect_quiet_end(*setup_, 1));
}

}  // namespace
}  // namespace mirel::program_test
