// The run's log ("--log=") as support reads it: each kind of run, driven as a user or an updating
// process drives it, leaves a log that tells what happened and why, with Wine's real engine.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>

#include "program_support.hpp"

namespace mirel::program_test {
namespace {

const std::wstring TITLE = L"Mirel - Oruvan Setup";
const std::wstring FAILED = L"Mirel installation could not be completed.";
// What a file of somebody else's, which a log's name must not lead to, holds before and after.
constexpr std::string_view OTHER_FILE = "somebody else's file\r\n";
// The box in which Wine's engine tells why it refuses to install.
const std::wstring ENGINE_REFUSAL = L"Install Failed";
constexpr DWORD ENGINE_BOX_TIMEOUT_MS = 90'000;

HWND await_engine_refusal() {
    const ULONGLONG deadline = ::GetTickCount64() + ENGINE_BOX_TIMEOUT_MS;
    for (;;) {
        if (HWND box = ::FindWindowW(L"#32770", ENGINE_REFUSAL.c_str())) return box;
        if (::GetTickCount64() >= deadline) return nullptr;
        ::Sleep(100);
    }
}

// What a run's driver does between the start and the end: answers the windows it expects.
using Drive = std::function<void(td::Process& setup)>;

void choose(td::Process& setup, int button) {
    const HWND dialog = await_window(setup, TITLE);
    ASSERT_NE(dialog, nullptr) << "no mode dialog";
    ASSERT_TRUE(click_and_wait(dialog, button));
}

void answer_box(td::Process& setup, const std::wstring& text, int button) {
    const std::optional<ShownBox> box = wait_for_message_box(setup.id(), TITLE);
    ASSERT_TRUE(box.has_value()) << "no box";
    EXPECT_EQ(box->text, text) << narrow(box->text);
    ASSERT_TRUE(click_and_wait(box->window, button));
}

void refused_by_the_engine(td::Process& setup) {
    ASSERT_NO_FATAL_FAILURE(choose(setup, BASIC_BUTTON));
    const HWND refusal = await_engine_refusal();
    ASSERT_NE(refusal, nullptr) << "the engine did not refuse";
    ASSERT_TRUE(click_and_wait(refusal, IDOK));
    ASSERT_NO_FATAL_FAILURE(answer_box(setup, FAILED + L"\n\n" + FAILED + L" (1603)", IDOK));
}

struct LogRun {
    const char* name;
    const char* program;                  // "setup", "broken" or "refused"
    std::vector<std::wstring> arguments;  // besides "--log="
    Drive drive;
    std::uint32_t exit_code;
    // Texts that the log holds, each after the one before it; the last lines of every run that
    // ends are its failure, if any, and its exit code.
    std::vector<std::string> lines;
    std::string standard_error;
    bool engine_log = false;  // the engine's own log is named and written
    const wchar_t* temp_leaf = L"temp";
    const wchar_t* log_folder = L"logs";
    bool engine_log_linked = false;  // its copy's name is another name for a file of somebody else's
};

const LogRun RUNS[] = {
    {"InteractiveBasicInstallation",
     "setup",
     {},
     [](td::Process& setup) {
         ASSERT_NO_FATAL_FAILURE(choose(setup, BASIC_BUTTON));
         ASSERT_NO_FATAL_FAILURE(answer_box(setup, L"Mirel is installed. Would you like to launch it now?", IDNO));
     },
     0,
     {"setup: Mirel setup 0.1.58; command line: ", "run: interactive installation, texts in English",
      "mode: Basic chosen", "package: checking en.msi", "rule: launch text: passed", "package: checking tr.msi",
      "rule: launch text: passed", "staging: created ", "staging: wrote ",
      "installer: no other installation in progress", "engine: starting ", " /passive /l*v ",
      "engine: exit code 0: installed", "clean-up: removed ", "question: launchQuestion answered No", "exit: code 0"},
     "",
     true},
    {"UpdateInstallation",
     "setup",
     {L"--update", L"--wait-pid=4294967295"},
     [](td::Process&) {},
     0,
     {"update: no process 4294967295 runs: the parent has ended", "run: update installation", "engine: exit code 0",
      "launch: the product's install location gives ",
      "mirel-desktop.exe: started through the desktop shell, as the signed-in user", "exit: code 0"},
     "",
     true},
    // Non-ASCII characters in the log's path and in the temporary directory.
    {"SoundValidation",
     "setup",
     {L"--validate"},
     [](td::Process&) {},
     0,
     {"run: validation run", "temp \xC4\xB0\xC5\x9F\xE4\xB8\xAD\\MirelSetup-", "SHA-256 ", "as the build recorded",
      "ProductLanguage \"1033\"", "verifier: exit code 0 after ", "rule: launch text: passed",
      "ProductLanguage \"1055\"", "rule: launch text: passed", "exit: code 0"},
     "",
     false,
     L"temp \u0130\u015F\u4E2D",
     L"logs \u0130 \u015F \u4E2D"},
    {"ValidationOfABrokenPackage",
     "broken",
     {L"--validate"},
     [](td::Process&) {},
     1,
     {"package: checking en.msi", "verifier: exit code 1 after ",
      "rule: web runtime installer: failed with "
      "installer_runtime_signature",
      "failure: code installer_runtime_signature; written to standard error: "
      "installer_runtime_signature",
      "exit: code 1"},
     "installer_runtime_signature\n"},
    {"CancelledModeDialog",
     "setup",
     {},
     [](td::Process& setup) { choose(setup, IDCANCEL); },
     0,
     {"run: interactive installation", "mode: cancelled", "exit: code 0"},
     ""},
    {"InstallationThatTheEngineRefuses",
     "refused",
     {},
     refused_by_the_engine,
     1,
     {"mode: Basic chosen", "engine: starting ", "engine: exit code 1603: failed; the engine's own reason is in ",
      ".engine.log", "failure: no code; shown in the failure box: Mirel installation could not be completed. (1603)",
      "exit: code 1"},
     "",
     true},
    {"UpdateInstallationBesideAHardLinkedEngineLog",
     "setup",
     {L"--update", L"--wait-pid=4294967295"},
     [](td::Process&) {},
     0,
     {".engine.log has 2 names (hard links)", "engine: its own log not copied to ", ".engine.log: run_log_refused",
      "engine: exit code 0: installed", "exit: code 0"},
     "",
     false,
     L"temp",
     L"logs",
     true},
};

class LogFixture : public ::testing::Test {
protected:
    explicit LogFixture(const wchar_t* temp_leaf = L"temp") : folder_(temp_leaf) {}
    void SetUp() override { ASSERT_TRUE(uninstall(ENGLISH_PRODUCT)); }
    void TearDown() override { EXPECT_TRUE(uninstall(ENGLISH_PRODUCT)); }

    static std::wstring program(std::string_view which) {
        if (which == "broken") return windows_path(MIREL_TEST_BROKEN_SETUP);
        if (which == "refused") return windows_path(MIREL_TEST_REFUSED_SETUP);
        return setup_program();
    }
    std::wstring log_path(const wchar_t* log_folder = L"logs") const {
        const std::wstring folder = folder_.scratch() + L"\\" + log_folder;
        ::CreateDirectoryW(folder.c_str(), nullptr);
        return folder + L"\\run.log";
    }

    TestFolder folder_;
};

class RunLog : public LogFixture, public ::testing::WithParamInterface<LogRun> {
protected:
    RunLog() : LogFixture(GetParam().temp_leaf) {}
};

// Each text after the one before it, each line of the file starting with the time.
void expect_in_order(const std::string& log, const std::vector<std::string>& texts) {
    std::size_t at = 0;
    for (const std::string& text : texts) {
        const std::size_t found = log.find(text, at);
        ASSERT_NE(found, std::string::npos) << "\"" << text << "\" missing after position " << at << " in:\n" << log;
        at = found + text.size();
    }
    std::size_t line = 0;
    while (line < log.size()) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(log[line])) && log.compare(line + 10, 1, "T") == 0 &&
                    log.compare(line + 23, 1, "Z") == 0)
            << log.substr(line, log.find('\n', line) - line);
        line = log.find('\n', line) + 1;
    }
}

TEST_P(RunLog, TellsWhatHappenedAndWhy) {
    const LogRun& run = GetParam();
    const std::wstring log = log_path(run.log_folder);
    const std::wstring engine_log = log + L".engine.log";
    const std::wstring other = folder_.scratch() + L"\\other.txt";
    if (run.engine_log_linked) {
        ASSERT_TRUE(wine_test::make_hard_links(other, OTHER_FILE, {engine_log}));
    }
    std::vector<std::wstring> arguments = run.arguments;
    arguments.push_back(L"--log=" + log);
    std::unique_ptr<td::Process> setup =
        start_setup(program(run.program), arguments, folder_, {}, !run.standard_error.empty());
    ASSERT_TRUE(setup);
    ASSERT_NO_FATAL_FAILURE(run.drive(*setup));
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, run.exit_code));
    if (!run.standard_error.empty()) {
        EXPECT_EQ(setup->standard_error(), run.standard_error);
    }

    const std::string text = read_file(log);
    ASSERT_NO_FATAL_FAILURE(expect_in_order(text, run.lines));
    EXPECT_EQ(text.find("MIREL_TEST_VERIFIER_LOG"), std::string::npos) << "the environment reached the log";
    EXPECT_EQ(exists(engine_log), run.engine_log || run.engine_log_linked);
    if (run.engine_log) {
        // Written inside the staging directory, then copied out beside the run's log.
        EXPECT_NE(text.find(" /l*v " + narrow(folder_.path()) + "\\MirelSetup-" + std::to_string(setup->id()) + "-"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("\\engine.log MIREL_SETUP_LAUNCH_OWNER=1 "), std::string::npos) << text;
        EXPECT_NE(text.find("engine: its own log copied to " + narrow(engine_log) + ", "), std::string::npos);
        EXPECT_NE(read_file(engine_log).find("=== Logging started"), std::string::npos);
    }
    if (run.engine_log_linked) {
        EXPECT_EQ(read_file(other), OTHER_FILE);
    }
    if (std::string_view(run.program) == "refused") {
        // Wine's engine names the action that refused, though not the condition's text.
        EXPECT_NE(read_file(engine_log).find("LaunchConditions"), std::string::npos);
    }
    // The application that an update starts leaves its marker there, in its own time.
    std::vector<std::wstring> left = folder_.entries();
    std::erase(left, folder_.marker().substr(folder_.path().size() + 1));
    EXPECT_TRUE(left.empty()) << "left in the temporary directory";

    // The same path again: the next run is appended, after the first one's last line.
    if (std::string_view(run.name) == "SoundValidation") {
        std::unique_ptr<td::Process> again = start_setup(program(run.program), arguments, folder_);
        ASSERT_TRUE(again);
        ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*again, 0u));
        const std::string both = read_file(log);
        EXPECT_EQ(both.substr(0, text.size()), text);
        ASSERT_NO_FATAL_FAILURE(expect_in_order(both.substr(text.size()), {"setup: Mirel setup", "exit: code 0"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, RunLog, ::testing::ValuesIn(RUNS),
                         [](const auto& info) { return std::string(info.param.name); });

using RunLogEdges = LogFixture;

// Killed while the engine runs (here: while the engine shows why it refuses), the run has already
// written the engine's command line; nothing after it.
TEST_F(RunLogEdges, ARunKilledWhileTheEngineRunsHasLoggedTheEnginesCommandLine) {
    const std::wstring log = log_path();
    std::unique_ptr<td::Process> setup = start_setup(program("refused"), {L"--log=" + log}, folder_);
    ASSERT_TRUE(setup);
    ASSERT_NO_FATAL_FAILURE(choose(*setup, BASIC_BUTTON));
    const HWND refusal = await_engine_refusal();
    ASSERT_NE(refusal, nullptr);
    setup->terminate();
    const std::string text = read_file(log);
    ASSERT_TRUE(click_and_wait(refusal, IDOK));
    ASSERT_NO_FATAL_FAILURE(expect_in_order(text, {"engine: starting C:\\windows\\system32\\msiexec.exe with the "
                                                   "command line \"msiexec.exe\" /i ",
                                                   "engine: its own verbose log: "}));
    EXPECT_EQ(text.find("exit: "), std::string::npos);
}

// A log that cannot be created ends the run before anything else, with the system's reason.
TEST_F(RunLogEdges, ALogThatCannotBeCreatedEndsTheRunAndLeavesNothing) {
    const std::wstring log = folder_.scratch() + L"\\no such folder\\run.log";
    std::unique_ptr<td::Process> setup =
        start_setup(program("setup"), {L"--validate", L"--log=" + log}, folder_, {}, true);
    ASSERT_TRUE(setup);
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 1u));
    EXPECT_TRUE(setup->standard_error().ends_with("(os error 3)\n")) << setup->standard_error();
    EXPECT_FALSE(exists(log));
    EXPECT_TRUE(folder_.entries().empty());
}

// A log that the run may not write ends it before anything is checked or staged, and writes nothing
// anywhere: another name for a file of somebody else's (any run under Wine is elevated; the engine's
// log beside it is one more), or a log that another run is writing, which is said in words.
struct RefusedLog {
    const char* name;
    // Makes `log` such a log; returns the run that writes it, if any.
    std::unique_ptr<td::Process> (*make)(const std::wstring& log, const TestFolder& folder);
    std::string standard_error;
};

const RefusedLog REFUSED_LOGS[] = {
    {"AHardLinkToAnotherFile",
     [](const std::wstring& log, const TestFolder& folder) {
         EXPECT_TRUE(
             wine_test::make_hard_links(folder.scratch() + L"\\other.txt", OTHER_FILE, {log, log + L".engine.log"}));
         return std::unique_ptr<td::Process>();
     },
     "run_log_refused\n"},
    {"OneThatAnotherRunWrites",
     [](const std::wstring& log, const TestFolder& folder) {
         std::unique_ptr<td::Process> first = start_setup(setup_program(), {L"--log=" + log}, folder);
         EXPECT_NE(read_file_holding(log, "run: interactive", wine_test::WINDOW_TIMEOUT_MS).find("run: interactive"),
                   std::string::npos);
         return first;
     },
     "Another run of the setup program, or another program, is using this log file. Try again when it has "
     "finished, or choose another log file.\n"},
};

// One case for the rows: a second suite of rows in this file would not link (GCC 12 under mingw).
TEST_F(RunLogEdges, ARefusedLogEndsTheRunBeforeAnythingIsStagedAndWritesNothing) {
    for (const RefusedLog& row : REFUSED_LOGS) {
        SCOPED_TRACE(row.name);
        const std::wstring log = folder_.scratch() + L"\\" + widen(row.name) + L".log";
        const std::unique_ptr<td::Process> first = row.make(log, folder_);
        std::unique_ptr<td::Process> setup =
            start_setup(program("setup"), {L"--validate", L"--log=" + log}, folder_, {}, true);
        ASSERT_TRUE(setup);
        ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 1u));
        EXPECT_EQ(setup->standard_error(), row.standard_error);
        EXPECT_TRUE(folder_.entries().empty());
        if (first) {
            ASSERT_NO_FATAL_FAILURE(choose(*first, IDCANCEL));
            ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*first, 0u));
        }
        EXPECT_EQ(read_file(log).find("--validate"), std::string::npos) << "the second run wrote to the log";
    }
    EXPECT_EQ(read_file(folder_.scratch() + L"\\other.txt"), OTHER_FILE);
}

}  // namespace
}  // namespace mirel::program_test
