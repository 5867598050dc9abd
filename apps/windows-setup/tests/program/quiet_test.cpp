// Quiet runs against the stand-in engine, as a deployment tool starts them: no window ever, the
// engine without an interface, its exit code handed back unchanged, the program's own failures on
// standard error and in the log.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>

#include "dialogs/failure_texts.hpp"
#include "dialogs/help_text.hpp"
#include "program_support.hpp"

namespace mirel::program_test {
namespace {

const LanguageTexts ENGLISH = load_language_texts(UiLanguage::English);
std::string failed(std::int32_t code) { return installer_failure_text(ENGLISH, code) + "\n"; }

struct QuietRun {
    const char* name;
    std::vector<std::wstring> arguments;  // besides "--quiet"; "--update" waits for a parent that ends
    const wchar_t* engine_exit;           // the stand-in's exit code; null: the engine must not run
    std::int32_t exit_code;
    std::string standard_error;
    const char* package = "en";  // handed to the engine; null: the program around a broken package
};

const QuietRun RUNS[] = {
    {"Installed", {}, L"0", 0, ""},
    {"RestartRequired", {}, L"3010", 3010, ""},
    {"RestartStarted", {}, L"1641", 1641, ""},
    {"AnotherInstallationInProgress", {}, L"1618", 1618, failed(1618)},
    {"CancelledInTheEngine", {}, L"1602", 1602, ""},
    {"GeneralFailure", {}, L"1603", 1603, failed(1603)},
    {"ACrash", {}, L"3221225477", -1073741819, failed(-1073741819)},
    {"TurkishNamed", {L"--language=tr"}, L"0", 0, "", "tr"},
    {"UnknownLanguage", {L"--language=de"}, nullptr, 1, unknown_language_text(ENGLISH, "de") + "\n"},
    {"BrokenPackage", {}, nullptr, 1, "installer_runtime_signature\n", nullptr},
    {"UpdateAfterItsParent", {L"--update"}, L"3010", 3010, ""},
    {"Help", {L"--help"}, nullptr, 0, help_text(ENGLISH) + "\n"},
};

class Quiet : public ::testing::TestWithParam<QuietRun> {
protected:
    void TearDown() override { EXPECT_TRUE(folder_.entries().empty()) << "left in the temporary directory"; }
    std::wstring scratch(const wchar_t* name) const { return folder_.scratch() + L"\\" + name; }
    TestFolder folder_;
};

TEST_P(Quiet, ShowsNothingAndEndsWithTheEnginesCodeOrItsOwnFailure) {
    const QuietRun& run = GetParam();
    std::vector<std::wstring> arguments = {L"--quiet", L"--log=" + scratch(L"run.log")};
    arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
    std::unique_ptr<td::Process> parent;
    if (run.arguments == std::vector<std::wstring>{L"--update"}) {
        parent = start_program(windows_path(MIREL_TEST_SLEEPER), {L"8000"});
        ASSERT_TRUE(parent);
        arguments.push_back(L"--wait-pid=" + std::to_wstring(parent->id()));
    }
    const Environment engine = {{L"MIREL_STANDIN_RECORD", scratch(L"engine.txt")},
                                {L"MIREL_STANDIN_EXIT", run.engine_exit ? run.engine_exit : L"0"}};
    std::unique_ptr<td::Process> setup = start_setup(
        run.package ? setup_program() : windows_path(MIREL_TEST_BROKEN_SETUP), arguments, folder_, engine, true);
    ASSERT_TRUE(setup);
    while (parent && !parent->has_exited()) {
        ASSERT_FALSE(exists(scratch(L"engine.txt")) || setup->has_exited()) << "the parent was not waited for";
        ::Sleep(100);
    }
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, static_cast<std::uint32_t>(run.exit_code)));
    EXPECT_EQ(setup->standard_error(), run.standard_error);
    const std::string log = read_file(scratch(L"run.log"));
    EXPECT_TRUE(log.ends_with("exit: code " + std::to_string(run.exit_code) + "\r\n")) << log;
    // A failure: what standard error got is the log's failure line too.
    const std::string told = "written to standard error: " + run.standard_error;
    if (run.exit_code != 0 && !run.standard_error.empty()) {
        EXPECT_NE(log.find(told.substr(0, told.size() - 1) + "\r\n"), std::string::npos) << log;
    }

    ASSERT_EQ(exists(scratch(L"engine.txt")), run.engine_exit != nullptr);
    if (!run.engine_exit) return;
    const std::string record = read_file(scratch(L"engine.txt"));
    const std::regex expected(R"re("msiexec\.exe" /i \S+\\MirelSetup-\d+-\d+-0\\)re" + std::string(run.package) +
                              R"re(\.msi /norestart /qn /l\*v \S+ MIREL_SETUP_LAUNCH_OWNER=1 )re"
                              R"re(WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")re");
    EXPECT_TRUE(std::regex_match(record.substr(0, record.find('\n')), expected)) << record;
}

INSTANTIATE_TEST_SUITE_P(Runs, Quiet, ::testing::ValuesIn(RUNS),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mirel::program_test
