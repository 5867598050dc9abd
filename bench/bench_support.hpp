#pragma once

// What the benchmarks share: a monotonic clock, medians, and the plainest way to put bytes on
// disk and check them, which staging is measured against.

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "common/win32.hpp"
#include "staging/staging.hpp"

namespace mirel::bench {

inline LARGE_INTEGER now() {
    LARGE_INTEGER value{};
    ::QueryPerformanceCounter(&value);
    return value;
}

inline double seconds_since(LARGE_INTEGER start) {
    LARGE_INTEGER frequency{};
    const LARGE_INTEGER end = now();
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Writes a new file in one call, flushes and closes it, then reopens it and compares it in the
// staging's piece size: the same work as staging, without its directory handles. `share` is the
// sharing mode while writing.
inline bool write_and_read_back(const std::string& path, std::span<const std::byte> bytes, DWORD share) {
    const std::wstring wide = file_system_path(path);
    {
        UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_WRITE, share, nullptr, CREATE_NEW, 0, nullptr));
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

}  // namespace mirel::bench
