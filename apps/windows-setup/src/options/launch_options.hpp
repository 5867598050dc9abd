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

// Reads the arguments (program path already dropped). Never fails; unknown arguments are ignored.
[[nodiscard]] LaunchOptions parse_launch_options(std::span<const std::string> arguments);

// True when some argument is exactly "--validate".
[[nodiscard]] bool has_validate_option(std::span<const std::string> arguments);

}  // namespace mirel
