#include "point_run.hpp"

#include <windows.h>

#include <msi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "test_driver.hpp"
#include "wine_files.hpp"

namespace mirel::faults {
namespace {

namespace td = mirel::test_driver;
namespace wt = mirel::wine_test;

// Bounded, yet well past what a sound run takes under a loaded Wine: a cold start of the 28 MB
// image, the inspection of both packages and a real installation.
constexpr DWORD RUN_TIMEOUT_MS = 120'000;
// What a run leaves running (the engine, the verifier, the application) gets as long again.
constexpr DWORD CHILDREN_TIMEOUT_MS = 120'000;
constexpr DWORD UNINSTALL_TIMEOUT_MS = 120'000;
// A window of the program that is none of those it is meant to show, once it has been up this long,
// is one it should not show; before that it may still be on its way to becoming one of them.
constexpr ULONGLONG RECOGNITION_MS = 2'000;
constexpr DWORD WINDOW_GONE_MS = 10'000;
constexpr DWORD POLL_MS = 50;
constexpr std::uint32_t KILLED_EXIT_CODE = 9;

constexpr const wchar_t* ENGLISH_PRODUCT = L"{8C0E5B2A-6F13-4D7A-9B41-3E2D5C7A1033}";
constexpr const wchar_t* TURKISH_PRODUCT = L"{8C0E5B2A-6F13-4D7A-9B41-3E2D5C7A1055}";
constexpr std::wstring_view TITLE = L"Mirel - Oruvan Setup";
constexpr std::wstring_view FAILED = L"Mirel installation could not be completed.";
constexpr std::wstring_view LAUNCH_QUESTION = L"Mirel is installed. Would you like to launch it now?";
constexpr std::wstring_view REBOOT_QUESTION =
    L"Mirel is installed. Windows requires a restart. Would you like to launch it now?";
constexpr int BASIC_BUTTON = 100;
// What the sample application writes into its %TEMP% when it starts: the one name that a run that
// launched it may leave there.
constexpr const wchar_t* MARKER = L"mirel-desktop-started.txt";
// How long the desktop's shell may take to start the application once the run has ended: the
// application is none of the run's processes then, so nothing else waits for it.
constexpr DWORD SHELL_START_MS = 10'000;

// The marker of an application that the desktop's shell started (as an elevated run, every run
// under Wine, has it do): in the shell's %TEMP%, the prefix user's, which this runner has too.
std::wstring shell_marker() {
    wchar_t temp[MAX_PATH + 1];
    return std::wstring(temp, ::GetTempPathW(MAX_PATH + 1, temp)) + MARKER;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string joined;
    for (const std::string& part : parts) {
        if (!joined.empty()) joined += separator;
        joined += part;
    }
    return joined;
}

std::string quoted(std::wstring_view text) {
    return "\"" + td::escape(text) + "\"";
}

std::string exit_text(std::uint32_t code) {
    return code > 0xFFFF ? error_text(code) : std::to_string(code);
}

std::wstring_view trimmed(std::wstring_view text) {
    const std::size_t end = text.find_last_not_of(L" \t\r\n");
    return end == std::wstring_view::npos ? std::wstring_view() : text.substr(0, end + 1);
}

ULONGLONG creation_time(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

// A window in one line, for a result: caption, class, and its text or its buttons.
std::string window_line(HWND window) {
    std::string line = quoted(td::window_text(window)) + " (" + td::escape(td::class_name(window)) + ")";
    if (const std::optional<std::wstring> text = td::message_box_text(window)) return line + ": " + quoted(*text);
    for (const td::Control& button : td::buttons(window)) line += " [" + td::escape(button.text) + "]";
    return line;
}

// The processes that a run started, and theirs in turn: the verifier, the engine and whatever the
// engine starts, the application, a debugger after a crash. They are known by their parent's id,
// which stays in the system's list after the parent has ended; a process created before the run
// cannot be one of them, whatever its parent's id says.
class Descendants {
public:
    Descendants(DWORD root_id, HANDLE root) : root_id_(root_id), root_created_(creation_time(root)) {}
    ~Descendants() {
        for (const auto& [id, child] : children_) ::CloseHandle(child.handle);
    }
    Descendants(const Descendants&) = delete;
    Descendants& operator=(const Descendants&) = delete;

    void refresh() {
        const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return;
        std::vector<PROCESSENTRY32W> listed;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
            listed.push_back(entry);
        ::CloseHandle(snapshot);
        // Again until nothing new turns up: a grandchild may come before its parent in the list.
        for (bool found = true; found;) {
            found = false;
            for (const PROCESSENTRY32W& process : listed) {
                const DWORD id = process.th32ProcessID;
                const DWORD parent = process.th32ParentProcessID;
                // A process that is still starting has no name in the list yet.
                if (const auto known = children_.find(id); known != children_.end() && known->second.name.empty())
                    known->second.name = td::narrow(process.szExeFile);
                if (id == root_id_ || children_.contains(id) || (parent != root_id_ && !children_.contains(parent)))
                    continue;
                const HANDLE handle =
                    ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
                if (handle == nullptr) continue;
                if (creation_time(handle) < root_created_) {
                    ::CloseHandle(handle);
                    continue;
                }
                children_[id] = {handle, td::narrow(process.szExeFile)};
                found = true;
            }
        }
    }

    // Those that still run, by name.
    [[nodiscard]] std::vector<std::string> running() const {
        std::vector<std::string> names;
        for (const auto& [id, child] : children_) {
            if (::WaitForSingleObject(child.handle, 0) == WAIT_TIMEOUT) names.push_back(child.name);
        }
        return names;
    }

    // Waits until all have ended. Those that still run at the end are named, with their windows,
    // and ended.
    [[nodiscard]] std::vector<std::string> wait(DWORD timeout_ms) {
        const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
        for (;;) {
            refresh();
            const bool running = std::ranges::any_of(children_, [](const auto& child) {
                return ::WaitForSingleObject(child.second.handle, 0) == WAIT_TIMEOUT;
            });
            if (!running) return {};
            if (::GetTickCount64() >= deadline) break;
            ::Sleep(POLL_MS);
        }
        std::vector<std::string> left;
        for (const auto& [id, child] : children_) {
            if (::WaitForSingleObject(child.handle, 0) != WAIT_TIMEOUT) continue;
            std::string line = child.name;
            for (HWND window : td::visible_windows(id)) line += " showing " + window_line(window);
            left.push_back(line);
            ::TerminateProcess(child.handle, 0xDEAD);
            ::WaitForSingleObject(child.handle, WINDOW_GONE_MS);
        }
        return left;
    }

private:
    struct Child {
        HANDLE handle = nullptr;
        std::string name;
    };
    DWORD root_id_;
    ULONGLONG root_created_;
    std::map<DWORD, Child> children_;
};

// Everything seen of one run of the program.
struct Observation {
    std::string start_failure;  // the runner could not start it
    std::optional<std::uint32_t> exit_code;
    bool hung = false;  // still running at the time-out, and ended then
    std::vector<std::string> hung_windows;
    std::string standard_error;
    std::vector<std::wstring> failure_texts;  // of the failure boxes answered
    bool mode_chosen = false;
    bool launch_answered = false;
    std::vector<std::string> unexpected;     // windows that such a run never shows, each closed
    std::vector<std::string> outlived;       // what it started that still ran when it had ended
    std::vector<std::string> children_left;  // still running long after the run, and ended then
};

// Closes a window that should not be there the way its user most likely would: its Cancel (or No,
// or OK), else the close box.
void close_window(HWND window) {
    for (const int id : {IDCANCEL, IDNO, IDOK}) {
        if (td::click_button(window, id)) {
            if (td::wait_for_window_gone(window, WINDOW_GONE_MS)) return;
            break;
        }
    }
    ::PostMessageW(window, WM_CLOSE, 0, 0);
}

bool has_button(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    return button != nullptr && td::class_name(button) == L"Button";
}

// Answers the program's windows as its user would: Basic in the mode dialog, Yes to the launch
// question, OK to the failure box after reading it. Each is expected at most once, and only in the
// runs that show it; anything else is recorded and closed.
class Answerer {
public:
    explicit Answerer(RunKind run) : run_(run) {}

    void look(DWORD process_id, Observation& seen) {
        for (HWND window : td::visible_windows(process_id)) {
            if (done_.contains(window)) continue;
            const ULONGLONG now = ::GetTickCount64();
            const ULONGLONG first = first_seen_.try_emplace(window, now).first->second;
            const int button = answer(window, seen);
            if (button == 0 && now - first < RECOGNITION_MS) continue;
            done_.insert(window);
            if (button == 0) {
                seen.unexpected.push_back(window_line(window));
                close_window(window);
            } else if (!td::click_button(window, button) || !td::wait_for_window_gone(window, WINDOW_GONE_MS)) {
                seen.unexpected.push_back(window_line(window) + ", which stayed after its button " +
                                          std::to_string(button));
                ::PostMessageW(window, WM_CLOSE, 0, 0);
            }
        }
    }

private:
    // The button that answers the window, 0 when it is not one that this run may show.
    int answer(HWND window, Observation& seen) const {
        if (td::window_text(window) != TITLE) return 0;
        const bool installing = run_ != RunKind::Validation;
        if (has_button(window, BASIC_BUTTON)) {
            if (run_ != RunKind::Interactive || seen.mode_chosen) return 0;
            seen.mode_chosen = true;
            return BASIC_BUTTON;
        }
        const std::optional<std::wstring> text = td::message_box_text(window);
        if (!text) return 0;
        if (installing && text->starts_with(FAILED) && seen.failure_texts.empty()) {
            seen.failure_texts.push_back(*text);
            return IDOK;
        }
        if (run_ == RunKind::Interactive && (*text == LAUNCH_QUESTION || *text == REBOOT_QUESTION) &&
            !seen.launch_answered) {
            seen.launch_answered = true;
            return IDYES;
        }
        return 0;
    }

    RunKind run_;
    std::map<HWND, ULONGLONG> first_seen_;
    std::set<HWND> done_;
};

std::wstring log_path(const PointPlace& place) {
    return place.scratch + L"\\run.log";
}

// Runs the program once, as `run` runs it, with MIREL_FAULT set to `fault` (none when empty), and
// answers it until it ends; then waits for what it started. A validation run writes a log only
// when `validation_log` names one (the run after a kill, whose refusal must be explainable).
Observation drive(RunKind run, const std::wstring& setup, const PointPlace& place, const std::wstring& fault,
                  const std::wstring& validation_log = L"") {
    Observation seen;
    td::LaunchRequest request;
    request.program = setup;
    const std::wstring log = L"--log=" + log_path(place);
    switch (run) {
        case RunKind::Validation:
            request.arguments = {L"--validate"};
            if (!validation_log.empty()) request.arguments.push_back(L"--log=" + validation_log);
            request.capture_standard_error = true;
            break;
        case RunKind::Update: request.arguments = {L"--update", L"--wait-pid=4294967295", log}; break;
        case RunKind::Interactive: request.arguments = {log}; break;
    }
    // The stand-in verifier appends each verdict with its reason there, which explains a refused
    // signature.
    request.environment = {
        {L"TMP", place.temp}, {L"TEMP", place.temp}, {L"MIREL_TEST_VERIFIER_LOG", place.scratch + L"\\verifier.log"}};
    if (fault.empty()) {
        request.removed_environment.emplace_back(L"MIREL_FAULT");
    } else {
        request.environment.emplace_back(L"MIREL_FAULT", fault);
    }
    auto started = td::Process::start(request);
    if (!started) {
        seen.start_failure = started.error().text();
        return seen;
    }
    td::Process& program = **started;
    Descendants descendants(program.id(), program.handle());
    Answerer answerer(run);
    const ULONGLONG deadline = ::GetTickCount64() + RUN_TIMEOUT_MS;
    for (;;) {
        if (const std::optional<std::uint32_t> code = program.wait_for_exit(POLL_MS)) {
            seen.exit_code = code;
            break;
        }
        descendants.refresh();
        answerer.look(program.id(), seen);
        if (::GetTickCount64() >= deadline) {
            seen.hung = true;
            for (HWND window : td::visible_windows(program.id())) seen.hung_windows.push_back(window_line(window));
            program.terminate();
            break;
        }
    }
    if (run == RunKind::Validation) seen.standard_error = program.standard_error();
    descendants.refresh();
    seen.outlived = descendants.running();
    seen.children_left = descendants.wait(CHILDREN_TIMEOUT_MS);
    return seen;
}

bool installed(const wchar_t* product) {
    return ::MsiQueryProductStateW(product) == INSTALLSTATE_DEFAULT;
}

// Removes the product with the prefix's own engine when it is installed; true once it is not.
bool uninstall(const wchar_t* product) {
    if (!installed(product)) return true;
    td::LaunchRequest request;
    request.program = wt::system_directory() + L"\\msiexec.exe";
    request.arguments = {L"/x", product, L"/qn"};
    auto engine = td::Process::start(request);
    if (!engine || !(*engine)->wait_for_exit(UNINSTALL_TIMEOUT_MS)) return false;
    return !installed(product);
}

// What is in the temporary directory besides the application's marker, one level into each
// directory.
std::vector<std::string> leftovers(const std::wstring& temp) {
    std::vector<std::string> left;
    for (const std::wstring& name : wt::entries(temp)) {
        if (name == MARKER) continue;
        std::vector<std::string> inside;
        for (const std::wstring& entry : wt::entries(temp + L"\\" + name)) inside.push_back(td::narrow(entry));
        left.push_back(td::narrow(name) + (inside.empty() ? "" : " (" + join(inside, ", ") + ")"));
    }
    return left;
}

// The text after "failure: " on the run log's last such line.
std::wstring logged_failure(const PointPlace& place) {
    const std::wstring log = td::widen(wt::read_file(log_path(place)));
    const std::size_t at = log.rfind(L" failure: ");
    if (at == std::wstring::npos) return {};
    const std::size_t start = at + 10;
    return log.substr(start, log.find_first_of(L"\r\n", start) - start);
}

// A run after it has ended and everything it started has ended too.
struct After {
    Observation seen;
    bool struck = true;
    std::vector<std::string> left;
    bool installed = false;
    bool turkish_installed = false;
    bool started = false;
    bool logged = false;
};

After observe(RunKind run, const std::wstring& setup, const PointPlace& place, const std::wstring& fault,
              const std::wstring& report, std::string_view struck_line) {
    After after;
    ::DeleteFileW(shell_marker().c_str());
    after.seen = drive(run, setup, place, fault);
    if (!struck_line.empty()) after.struck = wt::read_file(report).find(struck_line) != std::string::npos;
    after.left = leftovers(place.temp);
    after.installed = installed(ENGLISH_PRODUCT);
    after.turkish_installed = installed(TURKISH_PRODUCT);
    after.started =
        wt::exists(place.temp + L"\\" + MARKER) ||
        (after.seen.exit_code == 0u &&
         wt::read_file_holding(shell_marker(), "mirel-desktop.exe", SHELL_START_MS).find("mirel-desktop.exe") !=
             std::string::npos);
    after.logged = wt::exists(log_path(place));
    return after;
}

// What went wrong in a run beyond its exit code: its windows, its hang, what it left running.
void add_run_problems(const Observation& seen, std::vector<std::string>& problems, std::string_view which = "") {
    if (seen.hung) {
        problems.push_back(std::string(which) + "hang: still running after " + std::to_string(RUN_TIMEOUT_MS / 1000) +
                           " s" + (seen.hung_windows.empty() ? "" : ", showing " + join(seen.hung_windows, ", ")));
    }
    for (const std::string& window : seen.unexpected)
        problems.push_back(std::string(which) + "unexpected window " + window);
    if (!seen.children_left.empty()) {
        problems.push_back(std::string(which) + "still running " + std::to_string(CHILDREN_TIMEOUT_MS / 1000) +
                           " s after it, and ended: " + join(seen.children_left, ", "));
    }
}

Verdict verdict(std::string kind, const std::vector<std::string>& notes, const std::vector<std::string>& problems) {
    std::vector<std::string> parts = notes;
    parts.insert(parts.end(), problems.begin(), problems.end());
    return {problems.empty() ? std::move(kind) : "unsound", join(parts, "; ")};
}

// A run that ended on its own (or hung): a clear error, a sound success, or unsound. `function`
// is the one whose call was failed, if any.
Verdict judge(RunKind run, std::string_view function, const After& after, const PointPlace& place) {
    const Observation& seen = after.seen;
    if (!seen.start_failure.empty()) return {"rig-fault", seen.start_failure};
    std::vector<std::string> notes;
    std::vector<std::string> problems;
    std::string kind;
    add_run_problems(seen, problems);
    if (seen.exit_code) notes.push_back("exit " + exit_text(*seen.exit_code));
    if (seen.exit_code == 1u) {
        kind = "clear-error";
        std::wstring text;
        if (run == RunKind::Validation) {
            text = td::widen(seen.standard_error);
        } else if (!seen.failure_texts.empty()) {
            const std::wstring_view box = seen.failure_texts.front();
            if (!trimmed(box.substr(std::min(box.size(), FAILED.size()))).empty()) text = box;
        } else if (function == "MessageBoxW" && after.struck) {
            // The failure box's own call failed: the run's log still says why it ended.
            text = logged_failure(place);
        }
        if (trimmed(text).empty()) {
            problems.push_back(seen.failure_texts.empty()
                                   ? "failure without text"
                                   : "failure box without detail " + quoted(seen.failure_texts[0]));
        } else {
            notes.push_back(quoted(trimmed(text)));
        }
        if (after.installed) notes.push_back("the product is installed");
        // Whether the application a successful run started is still up when the run ends is a
        // race, so only a failed run names what outlived it.
        if (!seen.outlived.empty()) notes.push_back("outlived by " + join(seen.outlived, ", "));
    } else if (seen.exit_code == 0u) {
        kind = "sound-success";
        if (!seen.failure_texts.empty())
            problems.push_back("exit 0 after the failure box " + quoted(seen.failure_texts[0]));
        if (run != RunKind::Validation) {
            // A launch question that could not be shown counts as No.
            const bool declined =
                run == RunKind::Interactive && function == "MessageBoxW" && after.struck && !seen.launch_answered;
            if (!after.installed) problems.push_back("wrong success: the product is not installed");
            if (declined && after.started) problems.push_back("the application was started though the question failed");
            if (declined && !after.started) notes.push_back("the failed launch question was taken as No");
            if (!declined && !after.started) problems.push_back("wrong success: the application was not started");
            if (!after.logged) problems.push_back("wrong success: no run log");
        }
    } else if (seen.exit_code) {
        problems.push_back("crash: exit code " + exit_text(*seen.exit_code));
    }
    if (after.turkish_installed) problems.push_back("the Turkish product is installed");
    if (!after.left.empty()) problems.push_back("leftover: " + join(after.left, ", "));
    if (!after.struck) {
        notes.emplace_back("the fault was not dealt");
        if (kind == "sound-success")
            kind = "not-reached";
        else
            problems.emplace_back("not a sound success although the fault was never dealt");
    }
    return verdict(kind, notes, problems);
}

// A run that the seam ended: whatever it started ends, then the next run of the program, a plain
// validation in the same temporary directory, must succeed and leave that directory empty.
Verdict judge_kill(const std::wstring& setup, const PointPlace& place, const After& killed) {
    std::vector<std::string> notes;
    std::vector<std::string> problems;
    add_run_problems(killed.seen, problems);
    if (killed.seen.exit_code != KILLED_EXIT_CODE) {
        problems.push_back(killed.seen.exit_code ? "ended with " + exit_text(*killed.seen.exit_code) + ", not 9"
                                                 : "did not end when killed");
    }
    notes.push_back("exit " + (killed.seen.exit_code ? exit_text(*killed.seen.exit_code) : "none"));
    if (!killed.seen.outlived.empty()) notes.push_back("outlived by " + join(killed.seen.outlived, ", "));
    const Observation next = drive(RunKind::Validation, setup, place, L"", place.scratch + L"\\next-run.log");
    if (!next.start_failure.empty()) return {"rig-fault", "next run: " + next.start_failure};
    add_run_problems(next, problems, "next run: ");
    if (next.exit_code && *next.exit_code != 0) {
        problems.push_back("next run: exit " + exit_text(*next.exit_code) +
                           (next.standard_error.empty() ? "" : " " + quoted(trimmed(td::widen(next.standard_error)))));
    }
    const std::vector<std::string> left = leftovers(place.temp);
    if (!left.empty()) problems.push_back("left after the next run: " + join(left, ", "));
    if (problems.empty()) notes.emplace_back("the next run cleaned up");
    return verdict("killed", notes, problems);
}

// Before a run: no product installed, an empty place. A problem here is the rig's.
std::optional<std::string> prepare(const PointPlace& place) {
    if (!uninstall(ENGLISH_PRODUCT) || !uninstall(TURKISH_PRODUCT))
        return "the sample product could not be removed before the run";
    if (wt::exists(place.root) && !wt::remove_tree(place.root)) return "cannot empty " + td::narrow(place.root);
    for (const std::wstring& directory : {place.root, place.temp, place.scratch}) {
        if (!::CreateDirectoryW(directory.c_str(), nullptr))
            return "cannot make " + td::narrow(directory) + " (os error " + std::to_string(::GetLastError()) + ")";
    }
    return std::nullopt;
}

// After a run: the product removed, the temporary directory removed. The scratch directory stays
// (the run's log, the engine's, the verifier's and the seam's report: a few kilobytes) until the
// next sweep, to tell what happened at any point.
void finish(const PointPlace& place, Verdict& verdict) {
    if (!uninstall(ENGLISH_PRODUCT) || !uninstall(TURKISH_PRODUCT)) {
        verdict.detail += "; rig: the sample product could not be removed after the run";
    }
    wt::remove_tree(place.temp);
}

Verdict run_point_once(const Point& point, const std::wstring& setup, const PointPlace& place) {
    if (const std::optional<std::string> problem = prepare(place)) return {"rig-fault", *problem};
    const std::wstring report = place.scratch + L"\\seam.txt";
    const std::string call = point.function + " " + std::to_string(point.call);
    const std::string fault = point.kill ? "kill " + call : "fail " + call + " " + error_text(point.error);
    const After after =
        observe(point.run, setup, place, td::widen(fault) + L" " + report, report, "struck " + call + "\n");
    Verdict result = point.kill && after.struck && after.seen.start_failure.empty()
                         ? judge_kill(setup, place, after)
                         : judge(point.run, point.kill ? "" : point.function, after, place);
    finish(place, result);
    return result;
}

// Wine now and then refuses a process start with ERROR_INTERNAL_ERROR, which Windows gives no
// process start; the logs of the point's runs show it.
bool met_wine_internal_error(const PointPlace& place) {
    for (const wchar_t* log : {L"\\run.log", L"\\next-run.log"}) {
        if (wt::read_file(place.scratch + log).find("(os error 1359)") != std::string::npos) return true;
    }
    return false;
}

}  // namespace

PointPlace point_place(const std::wstring& work_directory, std::size_t number) {
    // Of one length for every point and for the counted run: the program's allocations follow the
    // length of its paths, and a point is the Nth allocation of the counted run.
    std::wstring digits = std::to_wstring(number);
    digits.insert(0, digits.size() < 5 ? 5 - digits.size() : 0, L'0');
    const std::wstring root = work_directory + L"\\p" + digits;
    return {root, root + L"\\temp", root + L"\\scratch"};
}

// An unsound point whose logs show Wine's internal error is run once more, and says so; the first
// try's logs stay beside it. No other point is ever run again.
Verdict run_point(const Point& point, const std::wstring& setup, const PointPlace& place) {
    Verdict result = run_point_once(point, setup, place);
    if (result.kind != "unsound" || !met_wine_internal_error(place)) return result;
    const std::wstring first = place.root + L"-first";
    wt::remove_tree(first);
    if (!::MoveFileW(place.scratch.c_str(), first.c_str())) return result;
    const std::string refused = result.detail;
    result = run_point_once(point, setup, place);
    result.detail += "; run again after Wine's internal error (os error 1359) at the first try (" + refused +
                     "; its logs in " + td::narrow(first) + ")";
    return result;
}

Verdict count_run(RunKind run, const std::wstring& setup, const PointPlace& place, const std::wstring& counts_file) {
    if (const std::optional<std::string> problem = prepare(place)) return {"rig-fault", *problem};
    ::DeleteFileW(counts_file.c_str());
    const After after = observe(run, setup, place, L"count " + counts_file, counts_file, "");
    Verdict result = judge(run, "", after, place);
    if (result.kind == "sound-success" && !wt::exists(counts_file)) result = {"unsound", "no counts were written"};
    finish(place, result);
    return result;
}

}  // namespace mirel::faults
