#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/setup_error.hpp"

namespace mirel {

// Appends one argument the way CommandLineToArgvW reads it back: quoted when empty or holding a
// space or tab (or always, with `force_quotes`), a quote escaped by a backslash, and the
// backslashes before a quote or the closing quote doubled. Fails on a NUL character
// (ErrorCode::NulInArgument).
[[nodiscard]] Status append_argument(std::string& command_line, std::string_view argument, bool force_quotes = false);

// The program in double quotes, then each argument after one space.
[[nodiscard]] Result<std::string> build_command_line(std::string_view program, std::span<const std::string> arguments);

}  // namespace mirel
