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

#include "common/path.hpp"
#include "common/win32.hpp"
#include "staging/payloads.hpp"
#include "staging/staging.hpp"

namespace {

using namespace mirel;

double seconds_since(LARGE_INTEGER start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now() {
    LARGE_INTEGER value{};
    ::QueryPerformanceCounter(&value);
    return value;
}

PROCESS_MEMORY_COUNTERS_EX memory() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters);
    return counters;
}

// Write, flush, close, reopen and compare in the same 32 KiB pieces: the same work as staging,
// without the directory handles and the sharing rules.
bool plain_write(const std::string& path, std::span<const std::byte> bytes) {
    const std::wstring wide = file_system_path(path);
    {
        UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size() || !::FlushFileBuffers(file.get()))
            return false;
    }
    UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    std::vector<std::byte> buffer(VERIFY_CHUNK_SIZE);
    std::size_t done = 0;
    DWORD read = 0;
    while (done < bytes.size() && ::ReadFile(file.get(), buffer.data(), VERIFY_CHUNK_SIZE, &read, nullptr) &&
           read > 0) {
        if (read > bytes.size() - done || std::memcmp(buffer.data(), bytes.data() + done, read) != 0) return false;
        done += read;
    }
    return done == bytes.size();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
        const bool plain_ok = plain_write(plain_path, payload.bytes);
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
