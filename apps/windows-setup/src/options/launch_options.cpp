#include "options/launch_options.hpp"

#include <algorithm>

namespace mirel {

bool has_validate_option(std::span<const std::string> arguments) {
    return std::ranges::find(arguments, VALIDATE_OPTION) != arguments.end();
}

LaunchOptions parse_launch_options(std::span<const std::string> arguments) {
    LaunchOptions options;
    options.validate = has_validate_option(arguments);
    const auto has = [&](std::string_view option) { return std::ranges::find(arguments, option) != arguments.end(); };
    options.update = has(UPDATE_OPTION);
    options.quiet = has(QUIET_OPTION);
    options.help = has(HELP_OPTION) || has(HELP_OPTION_SHORT);

    // Only the first argument with a prefix counts, even when its value is not valid.
    const auto first_with = [&](std::string_view prefix) {
        return std::ranges::find_if(arguments, [&](const std::string& a) { return a.starts_with(prefix); });
    };

    if (const auto preview = first_with(PREVIEW_LANGUAGE_PREFIX); preview != arguments.end()) {
        options.preview = true;
        const std::string_view value = std::string_view(*preview).substr(PREVIEW_LANGUAGE_PREFIX.size());
        options.forced_language = language_from_code(value);
    }
    if (const auto wait_pid = first_with(WAIT_PID_PREFIX); wait_pid != arguments.end()) {
        options.wait_pid = wait_pid->substr(WAIT_PID_PREFIX.size());
    }
    if (const auto language = first_with(LANGUAGE_PREFIX); language != arguments.end()) {
        options.language = language->substr(LANGUAGE_PREFIX.size());
    }
    // "--log=" without a value is no log option at all.
    const auto log = std::ranges::find_if(
        arguments, [](const std::string& a) { return a.starts_with(LOG_PREFIX) && a.size() > LOG_PREFIX.size(); });
    if (log != arguments.end()) options.log_path = log->substr(LOG_PREFIX.size());
    return options;
}

}  // namespace mirel
