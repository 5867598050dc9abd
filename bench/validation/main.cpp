// Times `mirel-setup.exe --validate` as a whole and in its parts, against a floor: a program that
// does only what any validation of the two embedded packages cannot avoid (write, flush and read
// back the same 28 MB, open each package once, start the signature verifier twice). Also reads the
// peak private memory of a validation run against the setup program's idle footprint.
//
// Usage: bench_validation SETUP_EXE [ROUNDS]     (default 5 rounds; medians)
//        bench_validation --crowded SETUP_EXE CROWDED_DIR EMPTY_DIR [ROUNDS]
//                                       the same validation run with a temporary directory of very
//                                       many entries against one that is empty: time and peak
//                                       memory, and the floor of the names it creates there
// It starts itself in these modes, which print their figures as tagged lines on standard output:
//        bench_validation --floor     the floor
//        bench_validation --parts     one validation, in-process, timed step by step
//        bench_validation --idle      nothing: the floor program's own idle footprint
//        bench_validation --names N   creates and removes N new names in its temporary directory
//        bench_validation --first-staging
//                                     one plain new directory, then the program's first staging
//                                     directory of a run (which sweeps earlier runs' directories),
//                                     each created and removed, timed in-process

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "process.hpp"
#include "common/installer_api.hpp"
#include "common/path.hpp"
#include "common/win32.hpp"
#include "inspection/installer_database.hpp"
#include "inspection/package_rules.hpp"
#include "inspection/web_runtime.hpp"
#include "inspection/web_runtime_core.hpp"
#include "staging/payloads.hpp"
#include "staging/staging.hpp"

namespace {

using namespace mirel;
using bench::median;
using bench::now;
using bench::seconds_since;

constexpr int MEMORY_ROUNDS = 3;
constexpr double TIME_RATIO_GOAL = 1.3;
// A run log may cost a validation run this much more, at most.
constexpr double LOG_COST_GOAL = 0.02;
// "--quiet" changes nothing before the installer engine: a quiet validation differs from a plain
// one by no more than this, either way.
constexpr double QUIET_COST_GOAL = 0.02;
constexpr std::size_t MEMORY_GOAL_BYTES = 2 * 1024 * 1024;
// A temporary directory of very many entries may cost a validation run this much time and peak
// memory, at most, on top of an empty one.
constexpr double CROWDED_COST_GOAL = 0.10;

// This process's private commit at this moment; under Wine, its resident anonymous memory.
double private_kib() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters);
    return static_cast<double>(counters.PagefileUsage) / 1024;
}

void print_line(const char* tag, const std::vector<double>& values) {
    std::printf("%s", tag);
    for (const double value : values) std::printf(" %.6f", value);
    std::printf("\n");
}

double milliseconds(double seconds) { return seconds * 1000; }
double kib(std::size_t bytes) { return static_cast<double>(bytes) / 1024; }

int fail_with(const char* what, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", what, text.c_str());
    return 1;
}

std::string own_path() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return from_wide(path);
}

std::string temporary_directory() {
    wchar_t buffer[MAX_PATH + 1]{};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    return from_wide(std::wstring_view(buffer, length));
}

// ---------------------------------------------------------------------------------------------
// --floor

// Opens the package once; when `runtime_path` is given, the carried web runtime installer is
// copied out through that same opening, so that the verifier has a real signed file to check.
bool open_package_once(const std::string& package_path, const std::string* runtime_path) {
    if (runtime_path == nullptr) {
        InstallerHandle database;
        return os::MsiOpenDatabaseW(to_wide(package_path).c_str(), MSIDBOPEN_READONLY, database.put()) == ERROR_SUCCESS;
    }
    auto query = InstallerQuery::open(package_path, RUNTIME_BINARY_QUERY);
    if (!query || query->fetch() != InstallerQuery::Fetch::Row) return false;
    UniqueHandle file(::CreateFileW(file_system_path(*runtime_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, 0, nullptr));
    if (!file) return false;
    std::vector<std::byte> buffer(RUNTIME_CHUNK_SIZE);
    for (;;) {
        DWORD count = static_cast<DWORD>(buffer.size());
        if (os::MsiRecordReadStream(query->record(), 1, reinterpret_cast<char*>(buffer.data()), &count) !=
            ERROR_SUCCESS)
            return false;
        if (count == 0) break;
        if (!write_all(file.get(), std::span(buffer.data(), count))) return false;
    }
    return ::FlushFileBuffers(file.get()) != FALSE;
}

// Starts the verifier on `file_path` the way the setup program does: the same program, arguments,
// environment and flags. True when it ended with exit code 0.
bool run_verifier(const std::string& file_path) {
    wchar_t system[MAX_PATH + 1]{};
    const UINT units = ::GetSystemDirectoryW(system, MAX_PATH + 1);
    if (units == 0 || units > MAX_PATH) return false;
    const auto verifier = verifier_locations(from_wide(std::wstring_view(system, units)));
    if (!verifier) return false;
    wine_test::LaunchRequest request;
    request.program = file_system_path(verifier->program);
    for (const std::string& argument : verifier_arguments(file_path)) request.arguments.push_back(to_wide(argument));
    request.environment = {{to_wide(VERIFIER_MODULE_VARIABLE), to_wide(verifier->module_directory)}};
    request.no_console_window = true;
    auto started = wine_test::Process::start(request);
    return started && (*started)->wait_for_exit(INFINITE) == std::optional<std::uint32_t>(0);
}

int run_floor() {
    const std::string base = join_path(temporary_directory(), "mirel-floor-" + std::to_string(::GetCurrentProcessId()));
    std::vector<std::string> packages;
    for (const Payload& payload : PAYLOADS) packages.push_back(base + "-" + std::string(payload.file_name));
    const std::string runtime = base + "-webview.exe";
    const auto remove_files = [&] {
        for (const std::string& path : packages) ::DeleteFileW(file_system_path(path).c_str());
        ::DeleteFileW(file_system_path(runtime).c_str());
    };

    std::vector<double> memory = {private_kib()};
    LARGE_INTEGER start = now();
    for (std::size_t i = 0; i < PAYLOADS.size(); ++i) {
        if (!bench::write_and_read_back(packages[i], PAYLOADS[i].bytes, FILE_SHARE_READ)) {
            remove_files();
            return fail_with("floor", "writing " + packages[i] + " failed");
        }
    }
    const double write = seconds_since(start);
    memory.push_back(private_kib());

    start = now();
    // Loading msi.dll belongs to opening the packages, as it does in the setup program.
    if (!os::MsiOpenDatabaseW.available()) {
        remove_files();
        return fail_with("floor", "msi.dll functions missing");
    }
    for (std::size_t i = 0; i < packages.size(); ++i) {
        if (!open_package_once(packages[i], i == 0 ? &runtime : nullptr)) {
            remove_files();
            return fail_with("floor", "opening " + packages[i] + " failed");
        }
    }
    const double open = seconds_since(start);
    memory.push_back(private_kib());

    start = now();
    for (std::size_t i = 0; i < PAYLOADS.size(); ++i) {
        if (!run_verifier(runtime)) {
            remove_files();
            return fail_with("floor", "the verifier did not accept " + runtime);
        }
    }
    const double verify = seconds_since(start);
    memory.push_back(private_kib());

    start = now();
    remove_files();
    const double clean = seconds_since(start);
    memory.push_back(private_kib());
    print_line("floor", {write, open, verify, clean});
    print_line("floor-memory", memory);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// --parts

// The setup program's queries, counted and timed: which of them the database time goes to.
class TimedQueries final : public PackageQueries {
public:
    Result<std::vector<std::string>> query_column(std::string_view package_path,
                                                  std::string_view query) const override {
        const LARGE_INTEGER start = now();
        auto rows = installer_package_queries().query_column(package_path, query);
        query_seconds += seconds_since(start);
        ++queries;
        return rows;
    }
    Result<std::unique_ptr<OpenedPackage>> open_package(std::string_view package_path) const override {
        const LARGE_INTEGER start = now();
        auto package = installer_package_queries().open_package(package_path);
        open_seconds += seconds_since(start);
        ++opens;
        return package;
    }

    mutable int queries = 0;
    mutable int opens = 0;
    mutable double query_seconds = 0;
    mutable double open_seconds = 0;
};

// The inspection of a validation run, step by step; the program's icon check is left out (this
// program has no icon), it falls into the rest of the run.
int run_parts() {
    double write = 0;
    double queries = 0;
    double runtime = 0;
    std::vector<double> memory = {private_kib()};
    LARGE_INTEGER start = now();
    Result<StagingDirectory> created = create_staging_directory();
    if (!created) return fail_with("create_staging_directory", created.error().text());
    std::optional<StagingDirectory> staging(std::move(*created));
    write += seconds_since(start);

    const TimedQueries timed_queries;
    const PackageCheck timed_web_runtime = [&](std::string_view package_path) {
        const LARGE_INTEGER check_start = now();
        Status status = check_web_runtime(package_path);
        runtime += seconds_since(check_start);
        return status;
    };
    for (const Payload& payload : PAYLOADS) {
        start = now();
        const Result<std::string> path = stage_payload(*staging, payload);
        write += seconds_since(start);
        if (!path) return fail_with("write_payload", path.error().text());
        memory.push_back(private_kib());

        const double runtime_before = runtime;
        start = now();
        const Status checked = check_package(timed_queries, timed_web_runtime, *path, payload.language);
        queries += seconds_since(start) - (runtime - runtime_before);
        if (!checked) return fail_with("check_package", checked.error().text());
        memory.push_back(private_kib());
    }
    start = now();
    staging.reset();
    const double clean = seconds_since(start);
    memory.push_back(private_kib());
    print_line("parts", {write, queries, runtime, clean});
    print_line("parts-memory", memory);
    print_line("parts-queries", {static_cast<double>(timed_queries.queries), timed_queries.query_seconds,
                                 static_cast<double>(timed_queries.opens), timed_queries.open_seconds});
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The measuring parent

struct ChildRun {
    double seconds = 0;
    DWORD exit_code = 1;
    std::string output;           // standard output and error together
    std::size_t peak_private = 0;  // largest private commit seen (PagefileUsage / PeakPagefileUsage)
    std::size_t peak_working_set = 0;
    int samples = 0;
};

void sample_memory(HANDLE process, ChildRun& run) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!::K32GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return;
    // Wine fills both private fields from the Linux process's resident anonymous memory (and
    // swap) at the moment of the query, and answers zeros once the process has ended; Windows
    // keeps a true peak that can still be read after the end.
    run.peak_private = std::max({run.peak_private, counters.PagefileUsage, counters.PeakPagefileUsage});
    run.peak_working_set = std::max({run.peak_working_set, counters.WorkingSetSize, counters.PeakWorkingSetSize});
    ++run.samples;
}

// Runs PROGRAM with the arguments (and these environment variables) and waits for it. With
// `sample`, the memory counters are read every millisecond while it runs (which disturbs its
// timing: such runs are not timed).
std::optional<ChildRun> run_child(const std::string& program, const std::vector<std::string>& arguments,
                                  bool sample, const wine_test::Environment& environment = {}) {
    wine_test::LaunchRequest request;
    request.program = file_system_path(program);
    for (const std::string& argument : arguments) request.arguments.push_back(to_wide(argument));
    request.environment = environment;
    request.capture_standard_output = request.capture_standard_error = true;
    LARGE_INTEGER start = now();
    auto started = wine_test::Process::start(request);
    // Wine now and then refuses a process start with "Internal error"; a second try succeeds.
    if (!started && started.error().os_error == ERROR_INTERNAL_ERROR) {
        std::fprintf(stderr, "%s; trying once more\n", started.error().text().c_str());
        ::Sleep(100);
        start = now();
        started = wine_test::Process::start(request);
    }
    if (!started) {
        std::fprintf(stderr, "%s\n", started.error().text().c_str());
        return std::nullopt;
    }
    wine_test::Process& process = **started;
    ChildRun run;
    std::optional<std::uint32_t> exit_code;
    do {
        if (sample) sample_memory(process.handle(), run);
    } while (!(exit_code = process.wait_for_exit(sample ? 1 : INFINITE)) && !process.has_exited());
    run.seconds = seconds_since(start);
    // Ended between the wait and the check: its exit code is there to be read.
    if (!exit_code) exit_code = process.wait_for_exit(INFINITE);
    if (sample) sample_memory(process.handle(), run);
    run.exit_code = exit_code.value_or(1);
    run.output = process.standard_output() + process.standard_error();
    return run;
}

// Runs the child and insists on exit code 0: a failed run measures nothing.
std::optional<ChildRun> run_ok(const char* name, const std::string& program, const std::vector<std::string>& arguments,
                               bool sample = false, const wine_test::Environment& environment = {}) {
    std::optional<ChildRun> run = run_child(program, arguments, sample, environment);
    if (run && run->exit_code != 0) {
        std::fprintf(stderr, "%s ended with exit code %lu: %s\n", name, run->exit_code, run->output.c_str());
        return std::nullopt;
    }
    return run;
}

// The figures after `tag` on its line of a child's output.
std::optional<std::vector<double>> figures(const std::string& output, const std::string& tag, std::size_t count) {
    std::size_t at = output.starts_with(tag + " ") ? 0 : output.find("\n" + tag + " ");
    std::vector<double> values;
    if (at != std::string::npos) {
        at += output[at] == '\n' ? tag.size() + 1 : tag.size();
        const std::size_t end = output.find('\n', at);
        const std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const char* cursor = line.c_str();
        char* next = nullptr;
        for (double value = std::strtod(cursor, &next); next != cursor; value = std::strtod(cursor, &next)) {
            values.push_back(value);
            cursor = next;
        }
    }
    if (values.size() != count) {
        std::fprintf(stderr, "no %zu %s figures in: %s\n", count, tag.c_str(), output.c_str());
        return std::nullopt;
    }
    return values;
}

// Wine maps an image section straight from the file only when its file offset is page-aligned;
// otherwise it reads the section into private memory when the program starts, payloads and all.
void print_payload_layout(const std::string& program) {
    UniqueHandle file(::CreateFileW(file_system_path(program).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    std::vector<unsigned char> headers(4096);
    DWORD read = 0;
    if (!file || !::ReadFile(file.get(), headers.data(), static_cast<DWORD>(headers.size()), &read, nullptr)) return;
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS64 nt{};
    if (read < sizeof dos) return;
    std::memcpy(&dos, headers.data(), sizeof dos);
    const std::size_t nt_offset = static_cast<std::size_t>(dos.e_lfanew);
    if (nt_offset + sizeof nt > read) return;
    std::memcpy(&nt, headers.data() + nt_offset, sizeof nt);
    const std::size_t sections =
        nt_offset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    IMAGE_SECTION_HEADER largest{};
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section{};
        if (sections + (i + 1) * sizeof section > read) return;
        std::memcpy(&section, headers.data() + sections + i * sizeof section, sizeof section);
        if (section.SizeOfRawData > largest.SizeOfRawData) largest = section;
    }
    char name[IMAGE_SIZEOF_SHORT_NAME + 1]{};
    std::memcpy(name, largest.Name, IMAGE_SIZEOF_SHORT_NAME);
    const bool aligned = largest.PointerToRawData % 4096 == 0;
    std::printf("payload section %s: %lu bytes at file offset 0x%lx, %s\n", name, largest.SizeOfRawData,
                largest.PointerToRawData,
                aligned ? "page-aligned (Wine maps it from the file)"
                        : "not page-aligned (Wine reads it into private memory at start)");
}

const char* verdict(bool met) { return met ? "met" : "NOT met"; }

bool has_visible_window(DWORD process_id) {
    struct Search {
        DWORD process_id;
        bool found;
    } search{process_id, false};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner != wanted->process_id || !::IsWindowVisible(window)) return TRUE;
            wanted->found = true;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The setup program's private memory while it shows the mode dialog (an interactive run started
// without arguments), a second after the dialog appeared; nothing without a display to show it on.
std::optional<std::size_t> private_at_mode_dialog(const std::string& setup) {
    wine_test::LaunchRequest request;
    request.program = file_system_path(setup);
    auto started = wine_test::Process::start(request);
    if (!started) {
        std::fprintf(stderr, "%s\n", started.error().text().c_str());
        return std::nullopt;
    }
    wine_test::Process& process = **started;
    std::optional<std::size_t> at_dialog;
    for (int waited = 0; waited < 30'000 && !process.has_exited(); waited += 50) {
        if (has_visible_window(process.id())) {
            ::Sleep(1000);
            ChildRun sampled;
            sample_memory(process.handle(), sampled);
            if (sampled.samples > 0) at_dialog = sampled.peak_private;
            break;
        }
        ::Sleep(50);
    }
    process.terminate();  // before the inspection: nothing is staged yet
    return at_dialog;
}

int run_bench(const std::string& setup, int rounds) {
    const std::string self = own_path();
    const std::vector<std::string> validate = {"--validate"};
    // The same with a run log, removed after each run so that every run starts a new file.
    const std::string log =
        join_path(temporary_directory(), "mirel-bench-" + std::to_string(::GetCurrentProcessId()) + ".log");
    const std::vector<std::string> validate_logged = {"--validate", "--log=" + log};
    const std::vector<std::string> validate_quiet = {"--validate", "--quiet"};
    // An update run in preview shows nothing and ends before touching any package: the setup
    // program's own start-up and end, its idle footprint.
    const std::vector<std::string> setup_idle = {"--update", "--preview-language=en"};

    std::printf("setup program: %s\n", setup.c_str());
    print_payload_layout(setup);
    std::printf("packages: 2 x %zu bytes; %d timed rounds, medians; temporary directory %s\n", PAYLOAD_SIZE, rounds,
                temporary_directory().c_str());

    // One untimed run of each first: the packages' pages, msi.dll and the verifier get into the
    // caches for all of them alike.
    if (!run_ok("validation", setup, validate) || !run_ok("floor", self, {"--floor"}) ||
        !run_ok("parts", self, {"--parts"}))
        return 1;

    std::vector<double> validation_times, logged_times, log_ratios, quiet_times, quiet_ratios, floor_times,
        parts_times, setup_idle_times, self_idle_times;
    std::array<std::vector<double>, 4> parts, floor_parts;
    std::array<std::vector<double>, 6> parts_memory;
    std::array<std::vector<double>, 5> floor_memory_trace;
    std::array<std::vector<double>, 4> query_split;
    for (int round = 1; round <= rounds; ++round) {
        // Interleaved, so that a slow moment of a shared machine hits all sides alike. The plain
        // run, the one with a log and the quiet one take each place of a round in turn (with the
        // plain run always between the two others, it ran some 5% slower than either), and the
        // cost of a log or of --quiet is the median of the rounds' ratios to the plain run of the
        // same round: those differ by far less than rounds do.
        std::optional<ChildRun> validation, logged, quiet;
        for (int place = 0; place < 3; ++place) {
            switch ((round + place) % 3) {
                case 0: validation = run_ok("validation", setup, validate); break;
                case 1: logged = run_ok("validation with a log", setup, validate_logged); break;
                default: quiet = run_ok("quiet validation", setup, validate_quiet); break;
            }
        }
        ::DeleteFileW(to_wide(log).c_str());
        const auto floor = run_ok("floor", self, {"--floor"});
        const auto in_process = run_ok("parts", self, {"--parts"});
        const auto idle = run_ok("idle setup", setup, setup_idle);
        const auto self_idle = run_ok("idle floor", self, {"--idle"});
        if (!validation || !floor || !in_process || !idle || !self_idle || !logged || !quiet) return 1;
        logged_times.push_back(logged->seconds);
        log_ratios.push_back(logged->seconds / validation->seconds);
        quiet_times.push_back(quiet->seconds);
        quiet_ratios.push_back(quiet->seconds / validation->seconds);
        const auto floor_figures = figures(floor->output, "floor", 4);
        const auto parts_figures = figures(in_process->output, "parts", 4);
        const auto floor_trace = figures(floor->output, "floor-memory", 5);
        const auto parts_trace = figures(in_process->output, "parts-memory", 6);
        const auto queries = figures(in_process->output, "parts-queries", 4);
        if (!floor_figures || !parts_figures || !floor_trace || !parts_trace || !queries) return 1;
        for (std::size_t i = 0; i < query_split.size(); ++i) query_split[i].push_back((*queries)[i]);
        for (std::size_t i = 0; i < 4; ++i) {
            floor_parts[i].push_back((*floor_figures)[i]);
            parts[i].push_back((*parts_figures)[i]);
        }
        for (std::size_t i = 0; i < parts_memory.size(); ++i) parts_memory[i].push_back((*parts_trace)[i]);
        for (std::size_t i = 0; i < floor_memory_trace.size(); ++i) {
            floor_memory_trace[i].push_back((*floor_trace)[i]);
        }
        validation_times.push_back(validation->seconds);
        floor_times.push_back(floor->seconds);
        parts_times.push_back(in_process->seconds);
        setup_idle_times.push_back(idle->seconds);
        self_idle_times.push_back(self_idle->seconds);
        std::printf("round %d: validation %.0f ms, floor %.0f ms, ratio %.2f (idle start and end: setup %.0f ms, "
                    "floor program %.0f ms)\n",
                    round, milliseconds(validation->seconds), milliseconds(floor->seconds),
                    validation->seconds / floor->seconds, milliseconds(idle->seconds),
                    milliseconds(self_idle->seconds));
    }

    const double validation_time = median(validation_times);
    const double logged_time = median(logged_times);
    const double log_cost = median(log_ratios) - 1;
    const double quiet_cost = median(quiet_ratios) - 1;
    const double floor_time = median(floor_times);
    const double ratio = validation_time / floor_time;
    // On a machine shared with other work the fastest round is the least disturbed one.
    const double fastest_ratio = *std::min_element(validation_times.begin(), validation_times.end()) /
                                 *std::min_element(floor_times.begin(), floor_times.end());
    const double write = median(parts[0]), queries = median(parts[1]), runtime = median(parts[2]),
                 clean = median(parts[3]);
    const double floor_write = median(floor_parts[0]), floor_open = median(floor_parts[1]),
                 floor_verify = median(floor_parts[2]), floor_clean = median(floor_parts[3]);

    const double parts_time = median(parts_times);
    std::printf("\nvalidation run (mirel-setup.exe --validate), median of %d: %.0f ms\n", rounds,
                milliseconds(validation_time));
    std::printf("  its parts, timed in-process in a child that runs the same inspection (median %.0f ms whole):\n",
                milliseconds(parts_time));
    std::printf("  writing and verifying both payloads %7.0f ms  (digest check, staging directory, write, flush, "
                "protect, read back and compare)\n",
                milliseconds(write));
    std::printf("  installer database queries          %7.0f ms  (identity, shortcut, launch owner and launch text "
                "rules; the first loads msi.dll)\n",
                milliseconds(queries));
    std::printf("    of which %.0f database openings for one query each %.0f ms, %.0f package openings "
                "(MsiOpenPackageExW) %.0f ms\n",
                median(query_split[0]), milliseconds(median(query_split[1])), median(query_split[2]),
                milliseconds(median(query_split[3])));
    std::printf("  web runtime checks                  %7.0f ms  (download ban query, extraction, verifier process; "
                "the floor's 2 verifier processes alone take %.0f ms)\n",
                milliseconds(runtime), milliseconds(floor_verify));
    std::printf("  staging clean-up                    %7.0f ms\n", milliseconds(clean));
    std::printf("  the rest of that child              %7.0f ms  (process start and end)\n",
                milliseconds(parts_time - write - queries - runtime - clean));
    std::printf("  mirel-setup.exe's start and end alone (an idle run): %.0f ms\n", milliseconds(median(setup_idle_times)));
    std::printf("floor, median of %d:                  %7.0f ms\n", rounds, milliseconds(floor_time));
    std::printf("  write, flush, read back 28 MB       %7.0f ms\n", milliseconds(floor_write));
    std::printf("  open each package once              %7.0f ms  (loading msi.dll; the first opening also copies "
                "out the carried web runtime installer)\n",
                milliseconds(floor_open));
    std::printf("  start the verifier twice            %7.0f ms\n", milliseconds(floor_verify));
    std::printf("  remove the files                    %7.0f ms\n", milliseconds(floor_clean));
    std::printf("  the rest                            %7.0f ms  (process start and end; the floor program's idle "
                "run %.0f ms)\n",
                milliseconds(floor_time - floor_write - floor_open - floor_verify - floor_clean),
                milliseconds(median(self_idle_times)));

    // Memory: separate runs, sampled every millisecond while they run.
    ChildRun validation_memory, idle_memory, floor_memory, self_idle_memory;
    const auto keep_peak = [](ChildRun& kept, const std::optional<ChildRun>& run) {
        kept.peak_private = std::max(kept.peak_private, run->peak_private);
        kept.peak_working_set = std::max(kept.peak_working_set, run->peak_working_set);
        kept.samples += run->samples;
    };
    for (int round = 0; round < MEMORY_ROUNDS; ++round) {
        const auto validation = run_ok("validation", setup, validate, true);
        const auto idle = run_ok("idle setup", setup, setup_idle, true);
        const auto floor = run_ok("floor", self, {"--floor"}, true);
        const auto self_idle = run_ok("idle floor", self, {"--idle"}, true);
        if (!validation || !idle || !floor || !self_idle) return 1;
        keep_peak(validation_memory, validation);
        keep_peak(idle_memory, idle);
        keep_peak(floor_memory, floor);
        keep_peak(self_idle_memory, self_idle);
    }
    const auto above = [](const ChildRun& run, const ChildRun& idle) {
        return static_cast<long long>(run.peak_private) - static_cast<long long>(idle.peak_private);
    };
    std::printf("\npeak private memory (largest of %d runs each, %d/%d samples):\n", MEMORY_ROUNDS,
                validation_memory.samples, idle_memory.samples);
    std::printf("  validation run   %8.0f KiB  (working set %.0f KiB)\n", kib(validation_memory.peak_private),
                kib(validation_memory.peak_working_set));
    std::printf("  idle setup       %8.0f KiB  (working set %.0f KiB)\n", kib(idle_memory.peak_private),
                kib(idle_memory.peak_working_set));
    std::printf("  above idle       %8lld KiB  for 2 x %zu KiB of payload\n", above(validation_memory, idle_memory) / 1024,
                PAYLOAD_SIZE / 1024);
    std::printf("  floor for comparison: %.0f KiB, its idle %.0f KiB, above idle %lld KiB\n",
                kib(floor_memory.peak_private), kib(self_idle_memory.peak_private),
                above(floor_memory, self_idle_memory) / 1024);

    // Where the growth happens: each child's own private memory after each step, as growth over
    // its start (medians of the timed rounds; between steps, not peaks).
    const auto growth = [](const auto& trace, std::size_t i) { return median(trace[i]) - median(trace[0]); };
    std::printf("  growth inside the parts child (KiB, from %.0f at start): en.msi written %+.0f, checked %+.0f; "
                "tr.msi written %+.0f, checked %+.0f; cleaned up %+.0f\n",
                median(parts_memory[0]), growth(parts_memory, 1), growth(parts_memory, 2), growth(parts_memory, 3),
                growth(parts_memory, 4), growth(parts_memory, 5));
    std::printf("  growth inside the floor (KiB, from %.0f at start): 28 MB written and read back %+.0f, packages "
                "opened %+.0f, verifier started twice %+.0f, files removed %+.0f\n",
                median(floor_memory_trace[0]), growth(floor_memory_trace, 1), growth(floor_memory_trace, 2),
                growth(floor_memory_trace, 3), growth(floor_memory_trace, 4));

    std::optional<std::size_t> dialog_private;
    for (int round = 0; round < MEMORY_ROUNDS; ++round) {
        const std::optional<std::size_t> sampled = private_at_mode_dialog(setup);
        if (sampled) dialog_private = std::max(dialog_private.value_or(0), *sampled);
    }
    if (dialog_private) {
        std::printf("  at the mode dialog %6.0f KiB  (largest of %d runs; the floor program idle: %.0f KiB, %+.0f KiB)\n",
                    kib(*dialog_private), MEMORY_ROUNDS, kib(self_idle_memory.peak_private),
                    kib(*dialog_private) - kib(self_idle_memory.peak_private));
    } else {
        std::printf("  at the mode dialog: not measured (no display to show it on)\n");
    }

    const long long memory_above = above(validation_memory, idle_memory);
    std::printf("\nsummary: validation %.0f ms, floor %.0f ms (medians of %d), ratio %.2f (goal <= %.1f: %s); "
                "fastest rounds' ratio %.2f\n",
                milliseconds(validation_time), milliseconds(floor_time), rounds, ratio, TIME_RATIO_GOAL,
                verdict(ratio <= TIME_RATIO_GOAL), fastest_ratio);
    std::printf("summary: validation with --log %.0f ms, %+.1f%% against without (median of the rounds' ratios; "
                "goal <= +%.0f%%: %s)\n",
                milliseconds(logged_time), log_cost * 100, LOG_COST_GOAL * 100, verdict(log_cost <= LOG_COST_GOAL));
    std::printf("summary: validation with --quiet %.0f ms, %+.1f%% against without (median of the rounds' ratios; "
                "goal within %.0f%% either way: %s)\n",
                milliseconds(median(quiet_times)), quiet_cost * 100, QUIET_COST_GOAL * 100,
                verdict(std::abs(quiet_cost) <= QUIET_COST_GOAL));
    std::printf("summary: peak private memory %.0f KiB, %lld KiB above the idle %.0f KiB (goal < %zu KiB: %s); "
                "the floor: %lld KiB above its idle\n",
                kib(validation_memory.peak_private), memory_above / 1024, kib(idle_memory.peak_private),
                MEMORY_GOAL_BYTES / 1024, verdict(memory_above < static_cast<long long>(MEMORY_GOAL_BYTES)),
                above(floor_memory, self_idle_memory) / 1024);
    std::printf("summary: private memory: validation peak %.0f KiB against the floor's peak %.0f KiB (%+.0f KiB); "
                "at the mode dialog %s against the floor program's idle %.0f KiB\n",
                kib(validation_memory.peak_private), kib(floor_memory.peak_private),
                kib(validation_memory.peak_private) - kib(floor_memory.peak_private),
                dialog_private ? (std::to_string(static_cast<long>(kib(*dialog_private))) + " KiB").c_str()
                               : "not measured",
                kib(self_idle_memory.peak_private));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// --names N, and --crowded

// What Wine pays for a name in a folder of very many entries (it compares names without regard to
// case by reading the whole folder, where NTFS looks them up in an index): a new name's creation.
int run_names(long count) {
    const std::string base = join_path(temporary_directory(), "mirel-names-" + std::to_string(::GetCurrentProcessId()));
    for (long i = 0; i < count; ++i) {
        const std::wstring path = file_system_path(base + "-" + std::to_string(i));
        if (!::CreateDirectoryW(path.c_str(), nullptr))
            return fail_with("names", "cannot create a name (os error " + std::to_string(::GetLastError()) + ")");
        ::RemoveDirectoryW(path.c_str());
    }
    return 0;
}

// What the program itself does in its temporary directory beyond creating names, without a whole
// run's noise: its first staging directory (the sweep of earlier runs' directories included)
// against a plain directory of a new name, both created and removed.
int run_first_staging() {
    const std::wstring plain =
        file_system_path(join_path(temporary_directory(), "mirel-plain-" + std::to_string(::GetCurrentProcessId())));
    LARGE_INTEGER start = now();
    if (!::CreateDirectoryW(plain.c_str(), nullptr)) return fail_with("first-staging", "no plain directory");
    ::RemoveDirectoryW(plain.c_str());
    const double plain_seconds = seconds_since(start);
    start = now();
    {
        Result<StagingDirectory> staging = create_staging_directory();
        if (!staging) return fail_with("create_staging_directory", staging.error().text());
    }
    print_line("first-staging", {seconds_since(start), plain_seconds});
    return 0;
}

wine_test::Environment temporary_environment(const std::string& directory) {
    return {{L"TMP", to_wide(directory)}, {L"TEMP", to_wide(directory)}};
}

// The names that appear directly in `directory` while PROGRAM runs with it as its temporary
// directory (its own and those of what it starts and loads); none when they cannot be watched.
std::optional<long> names_created(const std::string& program, const std::vector<std::string>& arguments,
                                  const std::string& directory) {
    UniqueHandle watched(::CreateFileW(file_system_path(directory).c_str(), FILE_LIST_DIRECTORY,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!watched || !event) return std::nullopt;
    alignas(DWORD) std::array<std::byte, 64 * 1024> buffer{};
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    const auto watch = [&] {
        return ::ReadDirectoryChangesW(watched.get(), buffer.data(), static_cast<DWORD>(buffer.size()), FALSE,
                                       FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, nullptr, &overlapped,
                                       nullptr) != FALSE;
    };
    if (!watch()) return std::nullopt;
    wine_test::LaunchRequest request;
    request.program = file_system_path(program);
    for (const std::string& argument : arguments) request.arguments.push_back(to_wide(argument));
    request.environment = temporary_environment(directory);
    auto started = wine_test::Process::start(request);
    if (!started) return std::nullopt;
    long created = 0;
    // The changes of the run's last moments arrive a little after its end.
    for (ULONGLONG quiet_from = 0;;) {
        if (quiet_from == 0 && (*started)->has_exited()) quiet_from = ::GetTickCount64();
        if (quiet_from != 0 && ::GetTickCount64() - quiet_from > 500) break;
        if (::WaitForSingleObject(event.get(), 50) != WAIT_OBJECT_0) continue;
        DWORD bytes = 0;
        if (!::GetOverlappedResult(watched.get(), &overlapped, &bytes, FALSE)) return std::nullopt;
        // An overflow (no bytes) loses the count: better none than a wrong one.
        if (bytes == 0) return std::nullopt;
        for (std::size_t offset = 0;;) {
            FILE_NOTIFY_INFORMATION change{};
            std::memcpy(&change, buffer.data() + offset, offsetof(FILE_NOTIFY_INFORMATION, FileName));
            if (change.Action == FILE_ACTION_ADDED || change.Action == FILE_ACTION_RENAMED_NEW_NAME) ++created;
            if (change.NextEntryOffset == 0) break;
            offset += change.NextEntryOffset;
        }
        ::ResetEvent(event.get());
        if (!watch()) return std::nullopt;
    }
    ::CancelIoEx(watched.get(), &overlapped);
    DWORD ignored = 0;
    ::GetOverlappedResult(watched.get(), &overlapped, &ignored, TRUE);
    return created;
}

long entries_in(const std::string& directory) {
    long count = 0;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(file_system_path(join_path(directory, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") ++count;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return count;
}

// A validation run with CROWDED as its temporary directory against the same run with EMPTY. Under
// Wine every new name in a folder of very many entries costs what Windows does not pay; the floor
// program creates as many names as a validation run (counted while one runs), and the program's
// own share is what the run's difference has above the floor's.
int run_crowded(const std::string& setup, const std::string& crowded, const std::string& empty, int rounds) {
    const std::string self = own_path();
    const std::vector<std::string> validate = {"--validate"};
    const long entries = entries_in(crowded);
    const std::optional<long> names = names_created(setup, validate, empty);
    if (!names) return fail_with("crowded", "the names a validation run creates cannot be counted");
    const std::vector<std::string> floor_arguments = {"--names", std::to_string(*names)};
    std::printf("temporary directory of %ld entries: %s; empty: %s\n", entries, crowded.c_str(), empty.c_str());
    std::printf(
        "a validation run creates %ld names in its temporary directory (its own and those of what it "
        "starts and loads); the floor program creates as many\n",
        *names);
    const wine_test::Environment in_crowded = temporary_environment(crowded);
    const wine_test::Environment in_empty = temporary_environment(empty);
    // One untimed run of each first, for the caches (Wine's view of the large folder among them).
    if (!run_ok("validation", setup, validate, false, in_crowded) ||
        !run_ok("validation", setup, validate, false, in_empty) ||
        !run_ok("floor", self, floor_arguments, false, in_crowded) ||
        !run_ok("floor", self, floor_arguments, false, in_empty))
        return 1;
    std::vector<double> validation_empty, validation_crowded, floor_empty, floor_crowded, own_shares, sweep_costs;
    for (int round = 1; round <= rounds; ++round) {
        // Interleaved, the crowded run first in every other round.
        const bool crowded_first = round % 2 == 0;
        std::optional<ChildRun> first =
            run_ok("validation", setup, validate, false, crowded_first ? in_crowded : in_empty);
        std::optional<ChildRun> second =
            run_ok("validation", setup, validate, false, crowded_first ? in_empty : in_crowded);
        std::optional<ChildRun> floor_first =
            run_ok("floor", self, floor_arguments, false, crowded_first ? in_crowded : in_empty);
        std::optional<ChildRun> floor_second =
            run_ok("floor", self, floor_arguments, false, crowded_first ? in_empty : in_crowded);
        if (!first || !second || !floor_first || !floor_second) return 1;
        if (crowded_first) {
            std::swap(first, second);
            std::swap(floor_first, floor_second);
        }
        validation_empty.push_back(first->seconds);
        validation_crowded.push_back(second->seconds);
        floor_empty.push_back(floor_first->seconds);
        floor_crowded.push_back(floor_second->seconds);
        own_shares.push_back((second->seconds - first->seconds - (floor_second->seconds - floor_first->seconds)) /
                             first->seconds);
        std::printf("round %d: validation %.0f ms empty, %.0f ms crowded; floor %.0f ms empty, %.0f ms crowded\n",
                    round, milliseconds(first->seconds), milliseconds(second->seconds),
                    milliseconds(floor_first->seconds), milliseconds(floor_second->seconds));
        const auto staging_empty = run_ok("first staging", self, {"--first-staging"}, false, in_empty);
        const auto staging_crowded = run_ok("first staging", self, {"--first-staging"}, false, in_crowded);
        if (!staging_empty || !staging_crowded) return 1;
        const auto in_empty_figures = figures(staging_empty->output, "first-staging", 2);
        const auto in_crowded_figures = figures(staging_crowded->output, "first-staging", 2);
        if (!in_empty_figures || !in_crowded_figures) return 1;
        sweep_costs.push_back((*in_crowded_figures)[0] - (*in_crowded_figures)[1] -
                              ((*in_empty_figures)[0] - (*in_empty_figures)[1]));
    }
    ChildRun memory_empty, memory_crowded;
    for (int round = 0; round < MEMORY_ROUNDS; ++round) {
        const auto sampled_empty = run_ok("validation", setup, validate, true, in_empty);
        const auto sampled_crowded = run_ok("validation", setup, validate, true, in_crowded);
        if (!sampled_empty || !sampled_crowded) return 1;
        memory_empty.peak_private = std::max(memory_empty.peak_private, sampled_empty->peak_private);
        memory_crowded.peak_private = std::max(memory_crowded.peak_private, sampled_crowded->peak_private);
    }
    const double empty_time = median(validation_empty), crowded_time = median(validation_crowded);
    const double wine_share = median(floor_crowded) - median(floor_empty);
    const double own_share = median(own_shares);
    const double memory_cost =
        static_cast<double>(memory_crowded.peak_private) / static_cast<double>(memory_empty.peak_private) - 1;
    std::printf(
        "\nvalidation run, median of %d: %.0f ms with an empty temporary directory, %.0f ms with %ld entries "
        "(%+.1f%%)\n",
        rounds, milliseconds(empty_time), milliseconds(crowded_time), entries, (crowded_time / empty_time - 1) * 100);
    std::printf("  Wine's share, the floor's %ld names: %.0f ms empty, %.0f ms crowded, %+.0f ms\n", *names,
                milliseconds(median(floor_empty)), milliseconds(median(floor_crowded)), milliseconds(wine_share));
    // On a machine shared with other work the fastest round of each is the least disturbed one.
    const auto fastest = [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); };
    const double fastest_share =
        (fastest(validation_crowded) - fastest(validation_empty) - (fastest(floor_crowded) - fastest(floor_empty))) /
        fastest(validation_empty);
    std::printf(
        "  the program's own share above that floor: %+.1f%% of the run (median of the rounds'); from the "
        "fastest run of each kind %+.1f%%\n",
        own_share * 100, fastest_share * 100);
    std::printf(
        "  timed in-process, the program's first staging directory (with the sweep) costs %+.0f ms more in the "
        "crowded directory than in the empty one, beyond a plain new name's cost there (median of the rounds): "
        "%+.1f%% of the run\n",
        milliseconds(median(sweep_costs)), median(sweep_costs) / empty_time * 100);
    std::printf("peak private memory (largest of %d runs each): %.0f KiB empty, %.0f KiB crowded (%+.1f%%)\n",
                MEMORY_ROUNDS, kib(memory_empty.peak_private), kib(memory_crowded.peak_private), memory_cost * 100);
    std::printf(
        "\nsummary: %ld entries in %%TEMP%%: validation %+.1f%% in all, of which Wine's %ld new names %+.0f ms "
        "and the program's own share %+.1f%% (goal <= +%.0f%%: %s; fastest runs' %+.1f%%; its first staging "
        "directory timed in-process %+.1f%%: %s); peak private memory %+.1f%% (goal <= +%.0f%%: %s)\n",
        entries, (crowded_time / empty_time - 1) * 100, *names, milliseconds(wine_share), own_share * 100,
        CROWDED_COST_GOAL * 100, verdict(own_share <= CROWDED_COST_GOAL), fastest_share * 100,
        median(sweep_costs) / empty_time * 100, verdict(median(sweep_costs) / empty_time <= CROWDED_COST_GOAL),
        memory_cost * 100, CROWDED_COST_GOAL * 100, verdict(memory_cost <= CROWDED_COST_GOAL));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"--floor") return run_floor();
    if (mode == L"--parts") return run_parts();
    if (mode == L"--idle") return 0;
    if (mode == L"--first-staging") return run_first_staging();
    if (mode == L"--names" && argc == 3) return run_names(std::wcstol(argv[2], nullptr, 10));
    if (mode == L"--crowded" && argc >= 5) {
        const int rounds = argc > 5 ? std::max(1, static_cast<int>(std::wcstol(argv[5], nullptr, 10))) : 5;
        return run_crowded(from_wide(argv[2]), from_wide(argv[3]), from_wide(argv[4]), rounds);
    }
    if (argc < 2 || mode.starts_with(L"--")) {
        std::fprintf(stderr, "usage: bench_validation SETUP_EXE [ROUNDS]\n"
                             "       bench_validation --crowded SETUP_EXE CROWDED_DIR EMPTY_DIR [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, static_cast<int>(std::wcstol(argv[2], nullptr, 10))) : 5;
    return run_bench(from_wide(argv[1]), rounds);
}
