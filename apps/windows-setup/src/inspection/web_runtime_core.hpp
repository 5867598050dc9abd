#pragma once

// The platform-free pieces of the web runtime check: the stream copy with its size limits, where
// the verifier lives and what it is given.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/read_back.hpp"
#include "common/setup_error.hpp"

namespace mirel {

inline constexpr std::string_view RUNTIME_BINARY_QUERY =
    "SELECT `Data` FROM `Binary` WHERE `Name` = 'MicrosoftEdgeWebview2Setup.exe'";
inline constexpr std::string_view RUNTIME_FILE_NAME = "webview.exe";
inline constexpr std::size_t RUNTIME_MINIMUM_SIZE = 512;
inline constexpr std::size_t RUNTIME_MAXIMUM_SIZE = 8'388'608;
inline constexpr std::size_t RUNTIME_CHUNK_SIZE = 32'768;

inline constexpr std::string_view VERIFIER_RELATIVE_PATH = "WindowsPowerShell/v1.0/powershell.exe";
inline constexpr std::string_view VERIFIER_MODULE_VARIABLE = "PSModulePath";
inline constexpr std::string_view SIGNATURE_SCRIPT =
    "& { param($p) $s=Get-AuthenticodeSignature -LiteralPath $p; if ($s.Status -ne 'Valid' -or "
    "$s.SignerCertificate.Subject -notmatch '(^|,\\s*)O=Microsoft Corporation(,|$)') { exit 1 }; exit 0 }";
static_assert(SIGNATURE_SCRIPT.size() == 189);

// Writes all of the bytes; false on failure.
using ChunkWriter = std::function<bool(std::span<const std::byte> bytes)>;

// Copies the stream in RUNTIME_CHUNK_SIZE pieces to `write` until `read` gives 0 bytes, then
// calls `flush`. Returns every byte read, in order. Any failure, a stream of fewer than
// RUNTIME_MINIMUM_SIZE bytes, or one of more than RUNTIME_MAXIMUM_SIZE bytes (noticed as soon as
// the running total passes it, without reading further) gives ErrorCode::InstallerRuntimePayload.
[[nodiscard]] Result<std::vector<std::byte>> copy_runtime_stream(const ChunkReader& read, const ChunkWriter& write,
                                                                 const std::function<bool()>& flush);

struct VerifierLocations {
    std::string program;
    std::string module_directory;
};

// The verifier below the system directory, and the module folder beside it.
[[nodiscard]] Result<VerifierLocations> verifier_locations(std::string_view system_directory);

// The path as a PowerShell single-quoted string: every quote character PowerShell knows
// (' and the typographic U+2018 to U+201B) doubled, the whole in single quotes.
[[nodiscard]] std::string powershell_literal(std::string_view path);

// "-NoProfile", "-NonInteractive", "-Command", the script, then the file to check. PowerShell
// joins everything after "-Command" into one command and parses it again, so a bare path would
// be split at its first blank (a profile folder such as "C:\Users\Ada Lovelace") and could even
// run as code ("$(...)"); the path therefore travels as a quoted PowerShell literal.
[[nodiscard]] std::vector<std::string> verifier_arguments(std::string_view file_path);

// Splits an environment block ("NAME=VALUE" strings, each NUL-terminated, ended by an empty one).
[[nodiscard]] std::vector<std::u16string> environment_entries(std::u16string_view block);

// The entries with `name` set to `value`: the first entry of that name in any letter case is
// replaced in place and any further one dropped; without one, the entry is inserted before the
// first name that sorts after it, keeping a sorted block sorted. Returns the finished block.
[[nodiscard]] std::u16string environment_block_with(const std::vector<std::u16string>& entries,
                                                    std::u16string_view name, std::u16string_view value);

}  // namespace mirel
