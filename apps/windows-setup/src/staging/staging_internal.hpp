#pragma once

// The steps of staging that tests drive on their own: a clock of their choosing for the
// directory names, and the read-back comparison on a file they prepared.

#include <cstdint>
#include <functional>
#include <span>

#include "staging/staging.hpp"

namespace mirel::staging_internal {

// create_staging_directory with another source of FILETIME values, read once per attempt.
Result<StagingDirectory> create_staging_directory(const std::function<std::uint64_t()>& read_system_time);

// Reads `file` from its current position and compares it with `bytes`: INSTALLER_PAYLOAD_LOCKED
// for a failed read, INSTALLER_PAYLOAD_CHANGED for a short, long or different file.
Status compare_file_contents(HANDLE file, std::span<const std::byte> bytes);

// The checks after protection: size, then contents. A failure releases `file` before it returns.
Result<ProtectedFile> verify_protected_file(ProtectedFile file, std::span<const std::byte> bytes);

}  // namespace mirel::staging_internal
