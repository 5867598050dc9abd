#pragma once

// The run's log and, beside it, the copy of the installer engine's own log: files at a path that
// the command line names, written with whatever rights the run has, so opened as the staging
// directory is made: every directory above held, the file itself opened relative to its held
// parent, and never through a link.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/setup_error.hpp"
#include "common/win32.hpp"

namespace mirel {

// The suffix of the copy of the installer engine's own verbose log, kept beside the run's log.
inline constexpr std::string_view ENGINE_LOG_SUFFIX = ".engine.log";
// The engine's own log while it runs: a staged name, inside the private staging directory, where
// nobody else can put a link in its place.
inline constexpr std::string_view ENGINE_LOG_NAME = "engine.log";

// A log file and every directory above it, held while it is written.
struct HeldLogFile {
    std::vector<UniqueHandle> ancestors;  // root first
    UniqueHandle file;                    // shared for reading only
};

enum class LogWrite { Append, Replace };

// Opens the log file at `path`, a full path, creating it when it does not exist, to append to it
// or to replace it (emptied once it has passed the checks, never before). Its directories are held
// (hold_ancestors). A link at its name, or another name for the same file (a hard link), would
// let whoever made it point a run with more rights than theirs at a file of their choosing: both
// are refused. A cloud file's placeholder, whose tag redirects nothing, is opened through its file
// system and must then be the same file. Refusals are logged under `topic` and fail with
// ErrorCode::RunLogRefused; a file that another process writes (another run given the same log)
// fails with the system's sharing violation.
[[nodiscard]] Result<HeldLogFile> open_log_file(std::string_view path, LogWrite how, std::string_view topic);

// Opens the run's log at `path` (a relative path is taken against the current directory) to append
// to it, and sends every event there from now on: one UTF-8 line each, starting with the UTC time
// and the milliseconds since the log was opened, written through as it happens. The file and its
// directories stay held until the process ends. Returns its full path; the failure of
// open_log_file otherwise.
[[nodiscard]] Result<std::string> open_run_log(std::string_view path);

// Copies the engine's own log (ENGINE_LOG_NAME inside the held `staging_directory`) to `run_log`
// and ENGINE_LOG_SUFFIX, replacing that file; nothing without a run log. The copy's path, or none
// when it was not made, which the run's log then says with the reason: the run goes on either way.
[[nodiscard]] std::optional<std::string> copy_engine_log(HANDLE staging_directory,
                                                         const std::optional<std::string>& run_log);

}  // namespace mirel
