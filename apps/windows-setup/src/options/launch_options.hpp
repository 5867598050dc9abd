#pragma once

#include <optional>
#include <span>
#include <string>

#include "common/ui_language.hpp"

namespace mirel {

struct LaunchOptions {
    bool validate = false;
    bool preview = false;
    std::optional<UiLanguage> forced_language;
    bool update = false;
    std::optional<std::string> wait_pid;
    // An unattended installation: no window at all, the engine's exit code as the program's.
    bool quiet = false;
    // The value of the first "--language=" argument, judged only in a quiet run.
    std::optional<std::string> language;
    // "--help" or "/?": the options are listed and nothing else happens.
    bool help = false;
    // Where the run's log goes: the value of the first "--log=" argument that has one.
    std::optional<std::string> log_path;

    bool operator==(const LaunchOptions&) const = default;
};

inline constexpr std::string_view VALIDATE_OPTION = "--validate";
inline constexpr std::wstring_view VALIDATE_OPTION_WIDE = L"--validate";
inline constexpr std::string_view PREVIEW_LANGUAGE_PREFIX = "--preview-language=";
inline constexpr std::string_view UPDATE_OPTION = "--update";
inline constexpr std::string_view WAIT_PID_PREFIX = "--wait-pid=";
inline constexpr std::string_view LOG_PREFIX = "--log=";
inline constexpr std::string_view QUIET_OPTION = "--quiet";
inline constexpr std::wstring_view QUIET_OPTION_WIDE = L"--quiet";
inline constexpr std::string_view LANGUAGE_PREFIX = "--language=";
inline constexpr std::string_view HELP_OPTION = "--help";
inline constexpr std::string_view HELP_OPTION_SHORT = "/?";

// Reads the arguments (program path already dropped). Never fails; unknown arguments are ignored.
[[nodiscard]] LaunchOptions parse_launch_options(std::span<const std::string> arguments);

// True when some argument is exactly "--validate".
[[nodiscard]] bool has_validate_option(std::span<const std::string> arguments);

}  // namespace mirel
