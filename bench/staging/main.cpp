// Times staging one embedded package against the plainest way to put the same bytes on disk and
// check them, and shows that staging does not copy the package in memory.
//
// Usage: bench_staging [ROUNDS]   (default 5; the first round also measures memory)

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "common/path.hpp"
#include "common/win32.hpp"
#include "staging/payloads.hpp"
#include "staging/staging.hpp"

namespace {

using namespace mirel;
using bench::median;
using bench::now;
using bench::seconds_since;

PROCESS_MEMORY_COUNTERS_EX memory() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters);
    return counters;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? std::max(1, static_cast<int>(std::wcstol(argv[1], nullptr, 10))) : 5;
    const Payload& payload = PAYLOADS[0];
    std::printf("payload: %s, %zu bytes\n", std::string(payload.file_name).c_str(), payload.bytes.size());

    std::vector<double> staged_times;
    std::vector<double> plain_times;
    for (int round = 0; round < rounds; ++round) {
        Result<StagingDirectory> staging = create_staging_directory();
        if (!staging) {
            std::fprintf(stderr, "create_staging_directory: %s\n", staging.error().text().c_str());
            return 1;
        }
        const PROCESS_MEMORY_COUNTERS_EX before = memory();
        const LARGE_INTEGER start = now();
        Result<std::string> path = write_payload(*staging, payload.file_name, payload.bytes);
        const double staged = seconds_since(start);
        const PROCESS_MEMORY_COUNTERS_EX after = memory();
        if (!path) {
            std::fprintf(stderr, "write_payload: %s\n", path.error().text().c_str());
            return 1;
        }
        if (round == 0) {
            // Private commit: PagefileUsage, which Windows also reports as PrivateUsage (Wine leaves
            // PrivateUsage at zero). The image's read-only data, where the package lies, is not in it.
            std::printf("private memory before write_payload: %zu KiB (peak so far %zu KiB)\n",
                        before.PagefileUsage / 1024, before.PeakPagefileUsage / 1024);
            std::printf("private memory after write_payload:  %zu KiB (peak so far %zu KiB)\n",
                        after.PagefileUsage / 1024, after.PeakPagefileUsage / 1024);
            std::printf(
                "growth during write_payload: %lld KiB (peak rose by %lld KiB); payload %zu KiB\n",
                (static_cast<long long>(after.PagefileUsage) - static_cast<long long>(before.PagefileUsage)) / 1024,
                (static_cast<long long>(after.PeakPagefileUsage) - static_cast<long long>(before.PeakPagefileUsage)) /
                    1024,
                payload.bytes.size() / 1024);
        }

        const std::string plain_path = join_path(staging->path(), "plain.bin");
        const LARGE_INTEGER plain_start = now();
        const bool plain_ok = bench::write_and_read_back(plain_path, payload.bytes, 0);
        const double plain = seconds_since(plain_start);
        ::DeleteFileW(file_system_path(plain_path).c_str());
        if (!plain_ok) {
            std::fprintf(stderr, "plain write failed\n");
            return 1;
        }
        std::printf("round %d: write_payload %.1f ms, plain write %.1f ms, ratio %.2f\n", round + 1, staged * 1000,
                    plain * 1000, staged / plain);
        staged_times.push_back(staged);
        plain_times.push_back(plain);
    }
    std::printf("median of %d: write_payload %.1f ms, plain write %.1f ms, ratio %.2f\n", rounds,
                median(staged_times) * 1000, median(plain_times) * 1000, median(staged_times) / median(plain_times));
    return 0;
}
