// The whole program against a stand-in installer engine (this prefix's system32\msiexec.exe): the
// command line that each answer to the mode dialog gives the engine, what each engine exit code
// leads to, and another installation in progress. The stand-in installs nothing, so the
// application is never started.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <regex>
#include <variant>

#include "program_support.hpp"

namespace mirel::program_test {
namespace {

const std::wstring TITLE = L"Mirel - Oruvan Setup";
const std::wstring FAILED = L"Mirel installation could not be completed.";
const std::wstring LAUNCH = L"Mirel is installed. Would you like to launch it now?";
const std::wstring REBOOT = L"Mirel is installed. Windows requires a restart. Would you like to launch it now?";
const wchar_t* const IN_PROGRESS = L"Another installation is in progress. Try again when it has finished. (1618)";

// Another installation when the run reaches the engine: none; one that ends once the run has
// waited for it a while; one that outlasts the wait.
enum class Installer { Free, EndsWhileWaitedFor, Outlasts };

// What Windows Installer holds while it installs: its machine-wide mutex, owned by this thread
// until reset. Wine's own engine takes none.
using HeldMutex = std::unique_ptr<void, decltype([](HANDLE mutex) {
                                      ::ReleaseMutex(mutex);
                                      ::CloseHandle(mutex);
                                  })>;
HeldMutex hold_installer_mutex() {
    HeldMutex held(::CreateMutexW(nullptr, FALSE, L"Global\\_MSIExecute"));
    if (held && ::WaitForSingleObject(held.get(), 0) != WAIT_OBJECT_0) ::CloseHandle(held.release());
    return held;
}

struct EngineRun {
    const char* name;
    std::variant<int, td::Key> mode;  // the answer to the mode dialog
    const wchar_t* engine_exit;
    const std::wstring* question = nullptr;  // asked after the engine, answered with `answer`
    int answer = IDNO;
    const wchar_t* failure = nullptr;  // the failure box's detail; the run then ends with 1
    bool wait_pid = false;             // "--wait-pid=" a running process, without "--update"
    const wchar_t* temp_leaf = L"temp";
    TempPlace place = TempPlace::Plain;
    Installer installer = Installer::Free;
    const char* logged = nullptr;  // a text of the run's log, which it then keeps
};

const EngineRun RUNS[] = {
    {"BasicIsPassive", BASIC_BUTTON, L"0", &LAUNCH},
    {"AdvancedShowsTheEnginesInterface", ADVANCED_BUTTON, L"0", &LAUNCH},
    // Return takes the default link, Basic: the passive switch tells it from Advanced.
    {"ReturnIsBasic", td::Key::Return, L"0", &LAUNCH},
    // Only an update waits for a parent: this run goes on while the named process still runs.
    {"AWaitPidWithoutUpdateIsNotWaitedFor", BASIC_BUTTON, L"0", &LAUNCH, IDNO, nullptr, true},
    {"APathWithASpaceIsQuoted", BASIC_BUTTON, L"0", &LAUNCH, IDNO, nullptr, false, L"Test User temp"},
    // A profile reached through a link: the engine and the verifier get the place it leads to.
    {"ATemporaryDirectoryThroughALinkIsResolved", BASIC_BUTTON, L"0", &LAUNCH, IDNO, nullptr, false, L"temp",
     TempPlace::ThroughALink},
    // Staged files there would pass MAX_PATH: they are handed over in their short form.
    {"ADeepTemporaryDirectoryIsHandedOverShort", ADVANCED_BUTTON, L"0", &LAUNCH, IDNO, nullptr, false, L"temp",
     TempPlace::Deep},
    {"RestartInitiatedAsksTheRebootQuestion", BASIC_BUTTON, L"1641", &REBOOT},
    {"RestartRequiredAsksTheRebootQuestion", ADVANCED_BUTTON, L"3010", &REBOOT},
    {"CancelledInsideTheEngineEndsQuietly", BASIC_BUTTON, L"1602"},
    {"TheGeneralFailureIsReportedWithItsCode", BASIC_BUTTON, L"1603", nullptr, IDNO,
     L"Mirel installation could not be completed. (1603)"},
    {"ACrashIsReportedWithItsNegativeCode", ADVANCED_BUTTON, L"3221225477", nullptr, IDNO,  // 0xC0000005
     L"Mirel installation could not be completed. (-1073741819)"},
    // Windows Installer knows no install location of a product that the stand-in "installed".
    {"YesLooksTheProductUp", BASIC_BUTTON, L"0", &LAUNCH, IDYES, L"install_location"},
    {"YesAfterARestartRequiredLooksTheProductUp", BASIC_BUTTON, L"3010", &REBOOT, IDYES, L"install_location"},
    // The engine waits for another installation in progress, then starts; or never starts.
    {"AnotherInstallationIsWaitedFor", BASIC_BUTTON, L"0", &LAUNCH, IDNO, nullptr, false, L"temp", TempPlace::Plain,
     Installer::EndsWhileWaitedFor, "installer: the other installation ended after "},
    {"AnotherInstallationPastTheWaitIsReportedAs1618", BASIC_BUTTON, L"0", nullptr, IDNO, IN_PROGRESS, false, L"temp",
     TempPlace::Plain, Installer::Outlasts, "engine: not started, as if it had ended with exit code 1618: failed"},
    {"TheEnginesOwn1618IsReportedAlike", ADVANCED_BUTTON, L"1618", nullptr, IDNO, IN_PROGRESS},
};

class StandInEngine : public ::testing::TestWithParam<EngineRun> {
protected:
    StandInEngine() : folder_(GetParam().temp_leaf, GetParam().place) {}

    void SetUp() override { ASSERT_TRUE(exists(system_directory() + L"\\msiexec.exe")); }
    void TearDown() override {
        // A run cut short by a failed expectation is ended here and leaves its staging behind.
        if (setup_ && !setup_->has_exited()) return;
        EXPECT_TRUE(folder_.staging_directories().empty()) << "a staging directory was left behind";
    }

    // The engine's command line as the stand-in recorded it, with its package in the long form
    // that the stand-in found and the staging directory's time (known only to the program) as "T".
    std::string engine_command_line() const {
        const std::string record = read_file(folder_.scratch() + L"\\engine.txt");
        std::string line = record.substr(0, record.find('\n'));
        const std::string package = package_argument(line);
        if (!package.empty()) {
            std::string long_form = read_file(folder_.scratch() + L"\\package.txt");
            if (long_form.find(' ') != std::string::npos) long_form = "\"" + long_form + "\"";
            line.replace(line.find(package), package.size(), long_form);
        }
        const std::string marker = "\\MirelSetup-" + std::to_string(setup_->id()) + "-";
        const std::size_t digits = line.find(marker) == std::string::npos ? 0 : line.find(marker) + marker.size();
        const std::size_t end = line.find_first_not_of("0123456789", digits);
        if (digits == 0 || end == digits || end == std::string::npos) return line;
        return line.substr(0, digits) + "T" + line.substr(end);
    }

    // The package as the command line gives it, quotes included.
    static std::string package_argument(const std::string& line) {
        std::smatch match;
        return std::regex_search(line, match, std::regex(R"(^"msiexec\.exe" /i ("[^"]*"|\S+))")) ? match[1].str() : "";
    }

    std::string expected_command_line(bool passive) const {
        std::string package =
            narrow(folder_.resolved()) + "\\MirelSetup-" + std::to_string(setup_->id()) + "-T-0\\en.msi";
        if (package.find(' ') != std::string::npos) package = "\"" + package + "\"";
        return "\"msiexec.exe\" /i " + package + " /norestart" + (passive ? " /passive" : "") +
               " MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT=\"\"";
    }

    // Every path that the engine and the verifier were handed: in the resolved temporary
    // directory, in full or in its short form, and under MAX_PATH.
    void expect_paths_handed_over_within_limits() const {
        wchar_t buffer[MAX_PATH];
        const std::string short_form =
            narrow(std::wstring(buffer, ::GetShortPathNameW(folder_.resolved().c_str(), buffer, MAX_PATH)));
        const std::string record = read_file(folder_.scratch() + L"\\engine.txt");
        std::vector<std::string> handed = {package_argument(record.substr(0, record.find('\n')))};
        const std::string log = folder_.verifier_log();
        const std::regex verified(R"('([^']*\\webview\.exe)')");
        for (auto match = std::sregex_iterator(log.begin(), log.end(), verified); match != std::sregex_iterator();
             ++match)
            handed.push_back((*match)[1].str());
        EXPECT_EQ(handed.size(), 3u) << log;  // the package, and the web runtime installer of each package
        for (std::string path : handed) {
            if (path.starts_with('"')) path = path.substr(1, path.size() - 2);
            EXPECT_LT(path.size(), std::size_t{MAX_PATH}) << path;
            EXPECT_TRUE(path.starts_with(narrow(folder_.resolved()) + "\\") || path.starts_with(short_form + "\\"))
                << path << " is not in " << narrow(folder_.resolved());
        }
    }

    TestFolder folder_;
    std::unique_ptr<td::Process> setup_;
};

TEST_P(StandInEngine, RunsTheEngineForTheChosenModeAndAnswersItsOutcome) {
    const EngineRun& run = GetParam();
    std::unique_ptr<td::Process> parent;
    std::vector<std::wstring> arguments;
    if (run.wait_pid) {
        parent = start_program(windows_path(MIREL_TEST_SLEEPER), {L"600000"});
        ASSERT_TRUE(parent);
        arguments.push_back(L"--wait-pid=" + std::to_wstring(parent->id()));
    }
    const std::wstring log = folder_.scratch() + L"\\run.log";
    if (run.logged != nullptr) arguments.push_back(L"--log=" + log);
    HeldMutex other;
    if (run.installer != Installer::Free) {
        other = hold_installer_mutex();
        ASSERT_TRUE(other) << "the installer's mutex is held elsewhere";
    }
    const std::wstring record = folder_.scratch() + L"\\engine.txt";
    // A test build that waits 3 s for another installation, where the program waits a minute.
    setup_ =
        start_setup(run.installer == Installer::Outlasts ? windows_path(MIREL_TEST_SHORT_WAIT_SETUP) : setup_program(),
                    arguments, folder_,
                    {{L"MIREL_STANDIN_RECORD", record},
                     {L"MIREL_STANDIN_PACKAGE", folder_.scratch() + L"\\package.txt"},
                     {L"MIREL_STANDIN_EXIT", run.engine_exit}});
    ASSERT_TRUE(setup_);
    const HWND dialog = await_window(*setup_, TITLE);
    ASSERT_NE(dialog, nullptr);
    if (const int* link = std::get_if<int>(&run.mode)) {
        ASSERT_TRUE(click_and_wait(dialog, *link));
    } else {
        ASSERT_TRUE(wine_test::press_and_wait(dialog, std::get<td::Key>(run.mode)));
    }
    if (run.installer == Installer::EndsWhileWaitedFor) {
        const std::string waiting = "installer: another installation is in progress: waiting up to 60000 ms";
        ASSERT_NE(read_file_holding(log, waiting, wine_test::WINDOW_TIMEOUT_MS).find(waiting), std::string::npos);
        ::Sleep(2000);
        EXPECT_FALSE(exists(record)) << "the engine started while another installation was in progress";
        other.reset();
    }

    if (run.question != nullptr) {
        const std::optional<ShownBox> box = wait_for_message_box(setup_->id(), TITLE);
        ASSERT_TRUE(box.has_value()) << "no question after the engine";
        EXPECT_TRUE(folder_.staging_directories().empty()) << "the package is still staged during the question";
        EXPECT_EQ(box->text, *run.question) << narrow(box->text);
        EXPECT_EQ(box->icon, td::BoxIcon::Information);
        EXPECT_EQ(box->buttons, (std::vector<int>{IDYES, IDNO}));
        ASSERT_TRUE(click_and_wait(box->window, run.answer));
    }
    if (run.failure != nullptr) {
        const std::optional<ShownBox> box = wait_for_message_box(setup_->id(), TITLE);
        ASSERT_TRUE(box.has_value()) << "no failure box";
        EXPECT_EQ(box->text, FAILED + L"\n\n" + run.failure) << narrow(box->text);
        EXPECT_EQ(box->icon, td::BoxIcon::Error);
        // The staging directory is gone before the failure is reported.
        EXPECT_TRUE(folder_.staging_directories().empty());
        ASSERT_TRUE(click_and_wait(box->window, IDOK));
    }
    ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup_, run.failure ? 1 : 0));

    if (run.logged != nullptr) {
        EXPECT_NE(read_file(log).find(run.logged), std::string::npos) << read_file(log);
    }
    const bool basic = !std::holds_alternative<int>(run.mode) || std::get<int>(run.mode) == BASIC_BUTTON;
    if (run.installer == Installer::Outlasts) {
        EXPECT_FALSE(exists(record)) << "the engine was started";
    } else {
        // A run's log adds the engine's own log to its command line.
        if (run.logged == nullptr) {
            EXPECT_EQ(engine_command_line(), expected_command_line(basic));
        }
        expect_paths_handed_over_within_limits();
    }
    EXPECT_FALSE(exists(folder_.marker())) << "an application was started";
    EXPECT_TRUE(!parent || !parent->has_exited()) << "the run waited for the process it was given";
}

INSTANTIATE_TEST_SUITE_P(Runs, StandInEngine, ::testing::ValuesIn(RUNS),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace mirel::program_test
