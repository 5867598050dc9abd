#include "common/command_line.hpp"

namespace mirel {

Status append_argument(std::string& command_line, std::string_view argument, bool force_quotes) {
    if (argument.find('\0') != std::string_view::npos) return fail(ErrorCode::NulInArgument);
    const bool quote = force_quotes || argument.empty() || argument.find_first_of(" \t") != std::string_view::npos;
    if (quote) command_line.push_back('"');
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') command_line.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        command_line.push_back(c);
    }
    if (quote) {
        command_line.append(backslashes, '\\');
        command_line.push_back('"');
    }
    return {};
}

Result<std::string> build_command_line(std::string_view program, std::span<const std::string> arguments) {
    std::string command_line;
    RETURN_IF_ERROR(append_argument(command_line, program, true));
    for (const std::string& argument : arguments) {
        command_line.push_back(' ');
        RETURN_IF_ERROR(append_argument(command_line, argument));
    }
    return command_line;
}

}  // namespace mirel
