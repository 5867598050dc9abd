// Runs that install nothing: validation runs, a program built around a rule-breaking package, and
// update runs whose parent process id cannot be used. They run in the stand-in engine's prefix,
// where the engine is the stand-in told to exit with 1602: a run that wrongly got as far as the
// engine ends quietly with exit code 0 and fails the test without installing anything.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "program_support.hpp"

namespace mirel::program_test {
namespace {

const std::wstring TITLE = L"Mirel - Oruvan Setup";
const std::wstring FAILED = L"Mirel installation could not be completed.";
// The broken package's inspection error (package-variants/runtime-unsigned: the English
// package carries an unsigned web runtime installer).
const std::string BROKEN_PACKAGE_ERROR = "installer_runtime_signature";

std::wstring broken_setup_program() {
    return windows_path(MIREL_TEST_BROKEN_SETUP);
}

class QuietRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(exists(system_directory() + L"\\msiexec.exe")); }
    void TearDown() override { EXPECT_TRUE(folder_.entries().empty()) << "left in the temporary directory"; }

    std::unique_ptr<td::Process> start(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                       bool capture_standard_error = false) {
        return start_setup(program, folder_.logged(arguments), folder_,
                           {{L"MIREL_STANDIN_RECORD", engine_record()}, {L"MIREL_STANDIN_EXIT", L"1602"}},
                           capture_standard_error);
    }
    std::wstring engine_record() const { return folder_.scratch() + L"\\engine.txt"; }

    // The failure box with this detail, answered; then the end with exit code 1.
    void expect_failure(td::Process& process, const std::string& detail) {
        const std::optional<ShownBox> box = wait_for_message_box(process.id(), TITLE);
        ASSERT_TRUE(box.has_value()) << "no failure box";
        EXPECT_EQ(box->text, FAILED + L"\n\n" + widen(detail)) << narrow(box->text);
        EXPECT_TRUE(folder_.entries().empty()) << "staged files left while the failure is shown";
        ASSERT_TRUE(click_and_wait(box->window, IDOK));
        ASSERT_NO_FATAL_FAILURE(expect_end_without_window(process, 1u));
        EXPECT_FALSE(exists(engine_record())) << "the engine was run";
    }

    TestFolder folder_;
};

using ValidationRun = QuietRun;

TEST_F(ValidationRun, SoundPackagesPrintNothingABrokenOneItsCodeAndNeitherShowsOrLeavesAnything) {
    const struct {
        std::wstring program;
        std::vector<std::wstring> arguments;
        std::uint32_t exit_code;
        std::string standard_error;
    } runs[] = {
        {setup_program(), {L"--validate"}, 0, ""},
        // Every other option is ignored in a validation run, wherever "--validate" stands.
        {setup_program(), {L"--update", L"--wait-pid=abc", L"--preview-language=tr", L"--validate"}, 0, ""},
        {broken_setup_program(), {L"--validate"}, 1, BROKEN_PACKAGE_ERROR + "\n"},
    };
    for (const auto& run : runs) {
        std::unique_ptr<td::Process> setup = start(run.program, run.arguments, true);
        ASSERT_TRUE(setup);
        ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, run.exit_code));
        EXPECT_EQ(setup->standard_error(), run.standard_error);
        EXPECT_TRUE(folder_.entries().empty());
    }
    EXPECT_FALSE(exists(engine_record()));
}

using DamagedProgram = QuietRun;

// A copy of the program with one byte of an embedded package changed, as a broken download or a
// bad copy has it: every validation run fails as changed before it writes anything, and an
// update run of it installs nothing.
TEST_F(DamagedProgram, OneChangedByteAnywhereInEitherPackageFailsAsChangedAndStagesNothing) {
    constexpr std::size_t PACKAGE_SIZE = 14'065'664;
    const std::string program = read_file(setup_program());
    const std::string english = read_file(windows_path(MIREL_TEST_SAMPLES "/en.msi"));
    ASSERT_EQ(english.size(), PACKAGE_SIZE);
    const std::size_t first = program.find(english.substr(0, 4096));
    ASSERT_NE(first, std::string::npos);
    ASSERT_EQ(program.compare(first, PACKAGE_SIZE, english), 0) << "the English package is not where it was found";
    // The compound file's first directory sector, as its header names it (512-byte sectors).
    std::uint32_t directory_sector = 0;
    std::memcpy(&directory_sector, english.data() + 0x30, sizeof directory_sector);
    const struct {
        const char* where;
        std::size_t offset;
    } positions[] = {{"header", 0x1E},
                     {"directory", (std::size_t{directory_sector} + 1) * 512 + 64},
                     {"middle", PACKAGE_SIZE / 2},
                     {"last byte", PACKAGE_SIZE - 1}};
    const std::wstring damaged = folder_.scratch() + L"\\damaged.exe";
    const auto write_damaged = [&](std::size_t offset) {
        std::string bytes = program;
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
        const HANDLE file = ::CreateFileW(damaged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        const bool ok = file != INVALID_HANDLE_VALUE &&
                        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        return ok;
    };
    for (std::size_t package = 0; package < 2; ++package) {
        for (const auto& position : positions) {
            SCOPED_TRACE(std::string(package == 0 ? "en.msi " : "tr.msi ") + position.where);
            ASSERT_TRUE(write_damaged(first + package * PACKAGE_SIZE + position.offset));
            std::unique_ptr<td::Process> setup = start(damaged, {L"--validate"}, true);
            ASSERT_TRUE(setup);
            ASSERT_NO_FATAL_FAILURE(expect_end_without_window(*setup, 1u));
            EXPECT_EQ(setup->standard_error(), "installer_payload_changed\n");
            EXPECT_TRUE(folder_.entries().empty());
        }
    }
    std::unique_ptr<td::Process> update = start(damaged, {L"--update", L"--wait-pid=4294967295"});
    ASSERT_TRUE(update);
    ASSERT_NO_FATAL_FAILURE(expect_failure(*update, "installer_payload_changed"));
    ::DeleteFileW(damaged.c_str());
}

using BrokenPackage = QuietRun;

TEST_F(BrokenPackage, AnInteractiveRunReportsItInTheFailureBoxAfterTheModeDialog) {
    std::unique_ptr<td::Process> setup = start(broken_setup_program(), {});
    ASSERT_TRUE(setup);
    const HWND dialog = await_window(*setup, TITLE);
    ASSERT_NE(dialog, nullptr) << "no mode dialog";
    // Nothing is inspected before the user has chosen.
    EXPECT_TRUE(folder_.entries().empty());
    ASSERT_TRUE(click_and_wait(dialog, BASIC_BUTTON));
    ASSERT_NO_FATAL_FAILURE(expect_failure(*setup, BROKEN_PACKAGE_ERROR));
}

TEST_F(BrokenPackage, AnUpdateRunReportsItBeforeLookingAtTheParent) {
    std::unique_ptr<td::Process> setup = start(broken_setup_program(), {L"--update", L"--wait-pid=abc"});
    ASSERT_TRUE(setup);
    ASSERT_NO_FATAL_FAILURE(expect_failure(*setup, BROKEN_PACKAGE_ERROR));
}

using UpdateHandOver = QuietRun;

TEST_F(UpdateHandOver, EveryUnusableParentIdIsRefusedAfterTheInspectionAndBeforeStaging) {
    const std::wstring running = std::to_wstring(::GetCurrentProcessId());
    const std::vector<std::vector<std::wstring>> command_lines = {
        {L"--update"},
        {L"--update", L"--wait-pid="},
        {L"--update", L"--wait-pid=0"},
        {L"--update", L"--wait-pid=-5"},
        {L"--update", L"--wait-pid= 12"},
        {L"--update", L"--wait-pid=12 "},
        {L"--update", L"--wait-pid=4294967296"},
        {L"--update", L"--wait-pid=abc"},
        {L"--update", L"--wait-pid=++" + running},
        // Only the first "--wait-pid=" counts, even when a later one names a running process.
        {L"--wait-pid=x", L"--update", L"--wait-pid=" + running},
        // The option names are exact.
        {L"--update", L"--WAIT-PID=" + running},
    };
    for (const auto& arguments : command_lines) {
        std::string shown;
        for (const std::wstring& argument : arguments) shown += "[" + narrow(argument) + "] ";
        SCOPED_TRACE(shown);
        std::unique_ptr<td::Process> setup = start(setup_program(), arguments);
        ASSERT_TRUE(setup);
        ASSERT_NO_FATAL_FAILURE(expect_failure(*setup, "update_parent_invalid"));
    }
}

// A process cannot name itself on its command line before it exists; but Wine gives out process
// and thread ids in order, so the next program started right after a probe's process (id P, its
// thread P + 4) is very likely to get P + 8. When it does not, the run proves nothing and the
// test is skipped.
TEST_F(UpdateHandOver, TheProgramsOwnIdIsRefused) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::unique_ptr<td::Process> probe = start_program(windows_path(MIREL_TEST_SLEEPER), {L"0"});
        ASSERT_TRUE(probe);
        const DWORD predicted = probe->id() + 8;
        std::unique_ptr<td::Process> setup =
            start(setup_program(), {L"--update", L"--wait-pid=" + std::to_wstring(predicted)});
        ASSERT_TRUE(setup);
        if (setup->id() != predicted) {
            // The id may name a process that runs for long: this run is of no use.
            setup->terminate();
            folder_.clear();
            continue;
        }
        ASSERT_NO_FATAL_FAILURE(expect_failure(*setup, "update_parent_invalid"));
        return;
    }
    GTEST_SKIP() << "the program never got the predicted process id";
}

}  // namespace
}  // namespace mirel::program_test
