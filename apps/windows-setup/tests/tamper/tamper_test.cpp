// The whole setup program, run from outside while another process of the same user attacks
// everything it stages (tamper_hostile), with an installer engine that takes its time and compares
// the package it is handed with the embedded bytes (tamper_engine, installed as msiexec.exe). The
// engine ends with 1602 ("cancelled by the user") or 1603 ("failed"): both come after the whole
// staging and engine phase, and neither needs an installed product afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "test_driver.hpp"
#include "wine_files.hpp"

namespace {

namespace td = mirel::test_driver;

using mirel::wine_test::entries;
using mirel::wine_test::own_directory;
using mirel::wine_test::read_file;
using mirel::wine_test::system_directory;

constexpr std::uint64_t PAYLOAD_SIZE = 14'065'664;
constexpr DWORD RUN_TIMEOUT_MS = 120'000;
constexpr DWORD WINDOW_TIMEOUT_MS = 90'000;
constexpr const wchar_t* ENGINE_MS = L"3000";
constexpr int BASIC_BUTTON = 100;
constexpr int OK_BUTTON = 1;
// No process has this id: the update run finds its parent already gone and waits for nothing.
constexpr const wchar_t* GONE_PARENT = L"--wait-pid=4294967295";
// Set to end the attacker that runs on its own across several runs (see tamper_hostile).
constexpr const wchar_t* STOP_EVENT = L"MirelTamperStopWatching";


std::wstring environment(const wchar_t* name) {
    return mirel::wine_test::environment_variable(name).value_or(L"");
}

// The build hands over Linux paths as "Z:/..."; Windows programs want backslashes.
std::wstring environment_path(const wchar_t* variable) {
    std::wstring path = environment(variable);
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

// A folder of the test's own in the prefix's temporary directory: `temp` becomes the program's
// TMP and TEMP, `work` holds the engine's record and the attacker's planted file.
struct Folder {
    Folder() {
        ::CreateDirectoryW(temp().c_str(), nullptr);
        ::CreateDirectoryW(work().c_str(), nullptr);
    }
    std::wstring temp() const { return root.child(L"temp"); }
    std::wstring work() const { return root.child(L"work"); }
    std::wstring record() const { return work() + L"\\engine-record.txt"; }

    mirel::wine_test::TempDir root{L"tamper"};
};

// Everything below the folder, one relative path a line, for a failure message.
std::string listing(const std::wstring& directory, const std::wstring& prefix = L"") {
    std::string text;
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return text;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        text += td::narrow(prefix + name) + " (" + std::to_string(entry.nFileSizeLow) + " bytes)\n";
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            text += listing(directory + L"\\" + name, prefix + name + L"\\");
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return text;
}

std::vector<std::string> split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

std::vector<std::vector<std::string>> records(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    for (const std::string& line : split(text, '\n')) {
        if (!line.empty()) lines.push_back(split(line, '\t'));
    }
    return lines;
}

// What tamper_hostile reports (see its header).
struct AttackReport {
    struct Tally {
        long attempts = 0;
        long successes = 0;
        std::string last_error;
    };
    std::map<std::string, std::map<std::string, Tally>> attacks;  // phase, attack
    std::map<std::string, std::pair<long, long>> rounds;          // phase: counted, discarded
    std::set<std::string> seen;
    std::set<std::string> squats;
    std::vector<std::string> notes;
    long squats_created = -1;
    long squats_intact = -1;
    long scans_opened = -1;
    long scans_past_deletion = -1;

    explicit AttackReport(const std::string& text) {
        for (const std::vector<std::string>& f : records(text)) {
            if (f[0] == "attack" && f.size() == 6) {
                attacks[f[1]][f[2]] = {std::stol(f[3]), std::stol(f[4]), f[5]};
            } else if (f[0] == "rounds" && f.size() == 4) {
                rounds[f[1]] = {std::stol(f[2]), std::stol(f[3])};
            } else if (f[0] == "seen" && f.size() == 2) {
                seen.insert(f[1]);
            } else if (f[0] == "squat" && f.size() == 2) {
                squats.insert(f[1]);
            } else if (f[0] == "squats" && f.size() == 3) {
                squats_created = std::stol(f[1]);
                squats_intact = std::stol(f[2]);
            } else if (f[0] == "scans" && f.size() == 3) {
                scans_opened = std::stol(f[1]);
                scans_past_deletion = std::stol(f[2]);
            } else if (f[0] == "note" && f.size() == 2) {
                notes.push_back(f[1]);
            }
        }
    }

    static bool is_read(const std::string& attack) { return attack == "read" || attack.ends_with(":read"); }
    // In the instant a run lets go of its emptied staging directory to delete it (see tamper_hostile).
    static bool at_removal(const std::string& attack) { return attack.starts_with("at_removal:"); }

    void print() const {
        for (const auto& [phase, tallies] : attacks) {
            long attempts = 0;
            long successes = 0;
            for (const auto& [attack, tally] : tallies) {
                std::cout << "  " << phase << "\t" << attack << "\tattempts " << tally.attempts << "\tsuccesses "
                          << tally.successes << "\tlast error " << tally.last_error << "\n";
                if (!is_read(attack) && !at_removal(attack)) {
                    attempts += tally.attempts;
                    successes += tally.successes;
                }
            }
            const auto counts = rounds.contains(phase) ? rounds.at(phase) : std::pair<long, long>{};
            std::cout << phase << ": " << counts.first << " rounds (" << counts.second << " discarded), " << attempts
                      << " attacks, " << successes << " successful\n";
        }
        for (const std::string& note : notes) std::cout << "attacker: " << note << "\n";
        std::cout << "staging directories seen: " << seen.size() << ", squats: " << squats_created << " ("
                  << squats_intact << " intact), staged files scanned: " << scans_opened << " (" << scans_past_deletion
                  << " held past their deletion)\n";
    }
};

struct EngineRecord {
    std::map<std::string, std::string> fields;
    explicit EngineRecord(const std::string& text) {
        for (const std::vector<std::string>& f : records(text)) {
            if (f.size() == 2) fields[f[0]] = f[1];
            if (f.size() == 1) fields[f[0]] = "";
        }
    }
    std::string operator[](const std::string& key) const { return fields.contains(key) ? fields.at(key) : "<none>"; }
};

std::string regex_escape(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

class TamperTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // This prefix belongs to these tests: its engine is the stand-in that takes its time, and
        // its PowerShell the gate in front of the test verifier (tools/install-verifier put the
        // verifier itself there, and trusted the test root).
        const std::wstring power_shell = system_directory() + L"\\WindowsPowerShell\\v1.0";
        const std::pair<std::wstring, std::wstring> copies[] = {
            {own_directory() + L"\\tamper_engine.exe", system_directory() + L"\\msiexec.exe"},
            {environment_path(L"MIREL_TAMPER_VERIFIER"), power_shell + L"\\mirel-test-verifier.exe"},
            {own_directory() + L"\\tamper_verifier_gate.exe", power_shell + L"\\powershell.exe"}};
        for (const auto& [from, to] : copies) {
            ::SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(::CopyFileW(from.c_str(), to.c_str(), FALSE)) << td::narrow(to) << ": " << ::GetLastError();
        }
    }

    std::unique_ptr<td::Process> start_setup(std::vector<std::wstring> arguments, const std::wstring& temp,
                                             const wchar_t* engine_exit, bool capture_standard_error = false,
                                             const wchar_t* engine_ms = ENGINE_MS) {
        td::LaunchRequest request;
        request.program = environment_path(L"MIREL_TAMPER_SETUP");
        request.arguments = std::move(arguments);
        request.environment = {{L"TMP", temp},
                               {L"TEMP", temp},
                               {L"MIREL_TAMPER_RECORD", folder_.record()},
                               {L"MIREL_TAMPER_STARTED", folder_.work() + L"\\engine-started"},
                               {L"MIREL_TAMPER_EXPECTED", environment_path(L"MIREL_TAMPER_SAMPLES")},
                               {L"MIREL_TAMPER_ENGINE_MS", engine_ms},
                               {L"MIREL_TAMPER_EXIT", engine_exit}};
        request.capture_standard_error = capture_standard_error;
        return mirel::wine_test::start_process(request);
    }

    std::unique_ptr<td::Process> start_hostile(DWORD setup_pid) {
        td::LaunchRequest request;
        request.program = own_directory() + L"\\tamper_hostile.exe";
        request.arguments = {std::to_wstring(setup_pid), folder_.temp(), folder_.work(),
                             environment_path(L"MIREL_TAMPER_STAGING_HOSTILE")};
        request.capture_standard_error = true;
        return mirel::wine_test::start_process(request);
    }

    AttackReport finish_hostile(td::Process& hostile) {
        const std::optional<std::uint32_t> code = hostile.wait_for_exit(30'000);
        EXPECT_EQ(code, std::optional<std::uint32_t>(0)) << "the attacker did not finish";
        AttackReport report(hostile.standard_error());
        report.print();
        return report;
    }

    // The engine ran on a fresh staging directory of this setup process and saw the embedded
    // English package, byte for byte, from its first look to its last.
    void expect_engine_saw_embedded_bytes(DWORD setup_pid, const AttackReport& attacks) {
        const EngineRecord engine(read_file(folder_.record()));
        std::cout << "engine: " << engine["checks"] << " checks of " << engine["package"] << ", "
                  << engine["mismatches"] << " mismatches " << engine["problem"] << "\n";
        const std::regex expected(regex_escape(td::narrow(folder_.temp())) + R"(\\(MirelSetup-)" +
                                  std::to_string(setup_pid) + R"(-[0-9]+00-[0-9]{1,2})\\en\.msi)");
        std::smatch match;
        const std::string package = engine["package"];
        ASSERT_TRUE(std::regex_match(package, match, expected)) << package;
        EXPECT_FALSE(attacks.squats.contains(match[1].str())) << "the engine was handed a squatted directory";
        EXPECT_EQ(engine["bytes"], std::to_string(PAYLOAD_SIZE));
        EXPECT_GE(std::stol(engine["checks"]), 2);
        EXPECT_EQ(engine["mismatches"], "0") << engine["problem"];
    }

    // Renaming, removing or opening for deletion a staging directory, from the moment it was seen
    // (and with `above` every directory above it) was tried and never worked; opening them for
    // reading, as any program may, always did.
    static void expect_first_instant_attacks_failed(const AttackReport& report, bool above) {
        ASSERT_TRUE(report.attacks.contains("first_instant")) << "no staging directory was ever attacked";
        const auto& attacks = report.attacks.at("first_instant");
        std::vector<std::string> expected = {"move_directory", "remove_directory", "open_delete_directory",
                                             "directory:read"};
        if (above) {
            expected.insert(expected.end(),
                            {"move_directory_above", "open_delete_directory_above", "directory_above:read"});
        }
        for (const std::string& attack : expected) {
            EXPECT_TRUE(attacks.contains(attack) && attacks.at(attack).attempts > 0) << attack << " never tried";
        }
        for (const auto& [attack, tally] : attacks) {
            if (AttackReport::at_removal(attack)) continue;
            if (AttackReport::is_read(attack)) {
                EXPECT_EQ(tally.successes, tally.attempts) << attack << " refused, last with " << tally.last_error;
            } else {
                EXPECT_EQ(tally.successes, 0) << attack;
            }
        }
    }

    static void expect_every_attack_failed(const AttackReport& report) {
        expect_first_instant_attacks_failed(report, false);
        ASSERT_TRUE(report.attacks.contains("engine")) << "no attack ran while the engine was running";
        EXPECT_GE(report.rounds.at("engine").first, 3);
        const auto& engine = report.attacks.at("engine");
        // The files were there to be attacked: reading them, which is allowed, worked.
        ASSERT_TRUE(engine.contains("read") && engine.contains("staging_hostile:read"));
        EXPECT_GT(engine.at("read").successes, 0);
        EXPECT_GT(engine.at("staging_hostile:read").successes, 0);
        for (const char* attack : {"open_write", "truncate", "open_delete", "delete_file", "move_file", "move_over",
                                   "replace_file", "move_directory", "remove_directory", "open_delete_directory",
                                   "staging_hostile:open_write", "staging_hostile:move_directory"}) {
            EXPECT_TRUE(engine.contains(attack) && engine.at(attack).attempts > 0) << attack << " never tried";
        }
        for (const auto& [phase, tallies] : report.attacks) {
            for (const auto& [attack, tally] : tallies) {
                if (AttackReport::is_read(attack) || AttackReport::at_removal(attack)) continue;
                EXPECT_EQ(tally.successes, 0) << phase << " " << attack;
            }
        }
        // The program never entered a directory that somebody else had made first.
        EXPECT_GT(report.squats_created, 0);
        EXPECT_EQ(report.squats_intact, report.squats_created);
    }

    Folder folder_;
};

TEST_F(TamperTest, UpdateRunsUnderAttackHandTheEngineTheEmbeddedBytesAndLeaveNothing) {
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("update run " + std::to_string(run));
        const auto setup = start_setup({L"--update", GONE_PARENT}, folder_.temp(), L"1602");
        ASSERT_TRUE(setup);
        const auto hostile = start_hostile(setup->id());
        ASSERT_TRUE(hostile);

        // 1602: the engine reports a cancellation, which ends the run quietly with exit code 0.
        EXPECT_EQ(setup->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(0));
        const AttackReport report = finish_hostile(*hostile);
        expect_engine_saw_embedded_bytes(setup->id(), report);
        expect_every_attack_failed(report);
        EXPECT_GE(report.seen.size(), 1u);
        EXPECT_EQ(listing(folder_.temp()), "");
        ::DeleteFileW(folder_.record().c_str());
    }
}

// One attacker, there before each run starts, so that it sees every staging directory as soon as
// it exists and goes for the directories above it too.
TEST_F(TamperTest, ValidationRunsUnderAttackFromTheFirstInstantValidateAndLeaveNothing) {
    constexpr int RUNS = 20;
    const auto hostile = start_hostile(0);
    ASSERT_TRUE(hostile);
    HANDLE stop = nullptr;
    for (int i = 0; i < 100 && stop == nullptr; ++i) {
        stop = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, STOP_EVENT);
        if (stop == nullptr) ::Sleep(100);
    }
    ASSERT_NE(stop, nullptr) << "the attacker did not start";
    for (int run = 0; run < RUNS; ++run) {
        const auto setup = start_setup({L"--validate"}, folder_.temp(), L"0", true);
        ASSERT_TRUE(setup);
        EXPECT_EQ(setup->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(0)) << "run " << run;
        EXPECT_EQ(setup->standard_error(), "") << "run " << run;
        EXPECT_EQ(listing(folder_.temp()), "") << "run " << run;
    }
    ::SetEvent(stop);
    ::CloseHandle(stop);
    const AttackReport report = finish_hostile(*hostile);
    expect_first_instant_attacks_failed(report, true);
    // Each run's inspection directory lives for seconds: none of them escaped the attacker.
    EXPECT_GE(report.seen.size(), static_cast<std::size_t>(RUNS));
    // The scanner was still reading staged files when the runs deleted them, and they waited.
    EXPECT_GT(report.scans_past_deletion, 0);
}

TEST_F(TamperTest, AnInteractiveRunWhoseEngineFailsUnderAttackRemovesEverythingBeforeItReports) {
    const auto setup = start_setup({}, folder_.temp(), L"1603");
    ASSERT_TRUE(setup);
    const auto hostile = start_hostile(setup->id());
    ASSERT_TRUE(hostile);

    const HWND dialog = td::wait_for_any_window(setup->id(), WINDOW_TIMEOUT_MS);
    ASSERT_NE(dialog, nullptr) << "no mode dialog";
    ASSERT_TRUE(td::click_button(dialog, BASIC_BUTTON)) << td::describe_window(dialog);
    ASSERT_TRUE(td::wait_for_window_gone(dialog, WINDOW_TIMEOUT_MS));

    const HWND box = td::wait_for_any_window(setup->id(), WINDOW_TIMEOUT_MS);
    ASSERT_NE(box, nullptr) << "no failure box";
    const std::optional<std::wstring> text = td::message_box_text(box);
    ASSERT_TRUE(text.has_value()) << td::describe_window(box);
    EXPECT_TRUE(text->ends_with(L" (1603)")) << td::escape(*text);
    // By the time the failure shows, whatever the run staged is gone; what is left can only be
    // the attacker's squats.
    const std::vector<std::wstring> at_report = entries(folder_.temp(), L"MirelSetup-*");
    ASSERT_TRUE(td::click_button(box, OK_BUTTON));

    EXPECT_EQ(setup->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(1));
    const AttackReport report = finish_hostile(*hostile);
    for (const std::wstring& name : at_report) {
        EXPECT_TRUE(report.squats.contains(td::narrow(name))) << td::narrow(name) << " was left at the report";
    }
    expect_engine_saw_embedded_bytes(setup->id(), report);
    expect_every_attack_failed(report);
    EXPECT_EQ(listing(folder_.temp()), "");
}

// A run ended from outside (Task Manager, a crash, a power loss) leaves its staging directories
// behind. The next run to make one takes them away; a run that is still alive keeps its own.
TEST_F(TamperTest, TheNextRunRemovesWhatAKilledRunLeftAndALiveRunKeepsItsOwn) {
    const auto wait_until = [](const auto& done) {
        for (const ULONGLONG until = ::GetTickCount64() + RUN_TIMEOUT_MS; !done() && ::GetTickCount64() < until;)
            ::Sleep(5);
        return done();
    };
    const auto killed = start_setup({L"--validate"}, folder_.temp(), L"0", true);
    ASSERT_TRUE(killed);
    // Ended while it checks its packages, with both written into its inspection directory.
    const std::wstring killed_prefix = L"MirelSetup-" + std::to_wstring(killed->id()) + L"-";
    ASSERT_TRUE(wait_until([&] {
        return std::ranges::any_of(entries(folder_.temp(), killed_prefix + L"*"), [&](const std::wstring& name) {
            return mirel::wine_test::exists(folder_.temp() + L"\\" + name + L"\\tr.msi");
        });
    })) << "the run never staged both packages";
    killed->terminate();
    const std::vector<std::wstring> left = entries(folder_.temp(), L"MirelSetup-*");
    ASSERT_FALSE(left.empty());

    // An update run in its engine, which takes its time: it removed what the killed run left.
    const auto alive = start_setup({L"--update", GONE_PARENT}, folder_.temp(), L"1602", false, L"15000");
    ASSERT_TRUE(alive);
    ASSERT_TRUE(wait_until([&] { return mirel::wine_test::exists(folder_.work() + L"\\engine-started"); }));
    const std::vector<std::wstring> alive_own = entries(folder_.temp(), L"MirelSetup-*");
    ASSERT_EQ(alive_own.size(), 1u) << listing(folder_.temp());
    EXPECT_EQ(std::ranges::count(left, alive_own.front()), 0);

    const auto next = start_setup({L"--validate"}, folder_.temp(), L"0", true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(0));
    ASSERT_FALSE(alive->has_exited()) << "the engine ended too soon for the test";
    EXPECT_EQ(entries(folder_.temp(), L"MirelSetup-*"), alive_own) << listing(folder_.temp());
    EXPECT_EQ(alive->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(0));
    EXPECT_EQ(listing(folder_.temp()), "");
}

// Run by tamper_full_drive, which mounts a small, nearly full tmpfs as this drive.
TEST_F(TamperTest, ANearlyFullTemporaryDriveFailsLockedAndLeavesNothing) {
    const std::wstring drive = environment(L"MIREL_TAMPER_FULL_DRIVE");
    if (drive.empty()) GTEST_SKIP() << "runs in tamper_full_drive, on a drive too small for a package";
    const std::wstring root = drive + L"\\";
    const std::vector<std::wstring> before = entries(drive);

    const auto validation = start_setup({L"--validate"}, root, L"0", true);
    ASSERT_TRUE(validation);
    EXPECT_EQ(validation->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(1));
    EXPECT_EQ(validation->standard_error(), "installer_payload_locked\n");
    EXPECT_EQ(entries(drive), before);

    const auto update = start_setup({L"--update", GONE_PARENT}, root, L"0");
    ASSERT_TRUE(update);
    const HWND box = td::wait_for_any_window(update->id(), WINDOW_TIMEOUT_MS);
    ASSERT_NE(box, nullptr) << "no failure box";
    const std::optional<std::wstring> text = td::message_box_text(box);
    ASSERT_TRUE(text.has_value()) << td::describe_window(box);
    EXPECT_TRUE(text->ends_with(L"installer_payload_locked")) << td::escape(*text);
    EXPECT_EQ(entries(drive), before);
    ASSERT_TRUE(td::click_button(box, OK_BUTTON));
    EXPECT_EQ(update->wait_for_exit(RUN_TIMEOUT_MS), std::optional<std::uint32_t>(1));
    EXPECT_EQ(entries(drive), before);
    EXPECT_EQ(::GetFileAttributesW(folder_.record().c_str()), INVALID_FILE_ATTRIBUTES) << "the engine ran";
}

}  // namespace
