// mirel-faults-runner.exe: the part of tools/faults that runs under Wine. It counts the calls that
// a run of the setup program makes into the system, plans the points of a sweep from the counts,
// and runs points: each one run of the program built with the fault seam, in which one call
// fails with a realistic error or before which the process is ended, answered from outside and
// judged by what the user saw and what was left behind.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "point_run.hpp"
#include "points.hpp"
#include "test_driver.hpp"
#include "wine_files.hpp"

namespace {

namespace mf = mirel::faults;
namespace td = mirel::test_driver;

constexpr const char* USAGE =
    "usage: mirel-faults-runner.exe count RUN SETUP_EXE WORK_DIR OUT_FILE\n"
    "       mirel-faults-runner.exe plan RUN COUNTS_FILE CAP POINTS_FILE\n"
    "       mirel-faults-runner.exe run POINTS_FILE SETUP_EXE WORK_DIR RESULTS_FILE\n"
    "RUN is validation, update or interactive; paths are Windows paths. count writes the calls of\n"
    "one run without a fault; plan writes that run's points, at most CAP calls of each function\n"
    "(2 or more), and prints the functions it capped; run runs each point in a place of its own\n"
    "under WORK_DIR and appends \"POINT KIND DETAIL\" for it to RESULTS_FILE.\n"
    "Exit code: 0 done, 1 the counted run was not a sound success, 2 bad usage or unreadable input.\n";

void out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool write_file(const std::wstring& path, const std::string& text, bool append) {
    const HANDLE file = ::CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool done =
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    ::CloseHandle(file);
    return done;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) found.push_back(line);
        at = end + 1;
    }
    return found;
}

int count(mf::RunKind run, const std::wstring& setup, const std::wstring& work, const std::wstring& counts) {
    ::CreateDirectoryW(work.c_str(), nullptr);
    const mf::Verdict verdict = mf::count_run(run, setup, mf::point_place(work, 0), counts);
    if (verdict.kind != "sound-success") {
        out("count: the " + std::string(mf::run_name(run)) + " run was not a sound success: " + verdict.kind + " " +
            verdict.detail + "\n");
        return 1;
    }
    return 0;
}

int plan(mf::RunKind run, const std::wstring& counts_file, const std::wstring& cap_text, const std::wstring& points) {
    const std::optional<mf::Counts> counts = mf::parse_counts(mirel::wine_test::read_file(counts_file));
    const std::uint64_t cap = std::wcstoull(cap_text.c_str(), nullptr, 10);
    if (!counts || counts->empty() || cap < 2) {
        out("plan: no counts in " + td::narrow(counts_file) + ", or a cap below 2\n");
        return 2;
    }
    std::vector<std::string> capped;
    std::string text;
    for (const mf::Point& point : mf::plan_points(run, *counts, cap, capped)) text += mf::point_line(point) + "\n";
    if (!write_file(points, text, false)) {
        out("plan: cannot write " + td::narrow(points) + "\n");
        return 2;
    }
    for (const std::string& line : capped) out(line + "\n");
    return 0;
}

int run(const std::wstring& points_file, const std::wstring& setup, const std::wstring& work,
        const std::wstring& results) {
    std::vector<mf::Point> points;
    for (const std::string& line : lines(mirel::wine_test::read_file(points_file))) {
        const std::optional<mf::Point> point = mf::parse_point(line);
        if (!point) {
            out("run: not a point: " + line + "\n");
            return 2;
        }
        points.push_back(*point);
    }
    ::CreateDirectoryW(work.c_str(), nullptr);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const mf::Verdict verdict = mf::run_point(points[i], setup, mf::point_place(work, i + 1));
        const std::string line = mf::point_line(points[i]) + " " + verdict.kind + " " + verdict.detail;
        if (!write_file(results, line + "\n", true)) {
            out("run: cannot write " + td::narrow(results) + "\n");
            return 2;
        }
        out("[" + std::to_string(i + 1) + "/" + std::to_string(points.size()) + "] " + line + "\n");
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const std::optional<mf::RunKind> kind =
        arguments.size() > 1 ? mf::run_kind(td::narrow(arguments[1])) : std::optional<mf::RunKind>();
    // Wine starts the desktop process for the first process of a prefix that touches a window: it
    // must be this one, not the setup program, whose children the runner waits for.
    ::GetDesktopWindow();
    if (arguments.size() == 5 && arguments[0] == L"count" && kind)
        return count(*kind, arguments[2], arguments[3], arguments[4]);
    if (arguments.size() == 5 && arguments[0] == L"plan" && kind)
        return plan(*kind, arguments[2], arguments[3], arguments[4]);
    if (arguments.size() == 5 && arguments[0] == L"run")
        return run(arguments[1], arguments[2], arguments[3], arguments[4]);
    out(USAGE);
    return 2;
}
