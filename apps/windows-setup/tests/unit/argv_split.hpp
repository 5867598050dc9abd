#pragma once

// An independent reader of Windows command lines (the rules CommandLineToArgvW follows for the
// arguments after the program name), written from those rules rather than from the quoting code,
// so that quoting can be checked by round trip.

#include <string>
#include <vector>

namespace mirel::testing {

inline std::vector<std::string> split_arguments(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    // The program name runs to the next quote when it starts with one, else to a blank.
    if (!line.empty() && line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        i = close == std::string::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    }
    const auto skip_blanks = [&] {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    };
    for (skip_blanks(); i < line.size(); skip_blanks()) {
        std::string arg;
        bool quoted = false;
        while (i < line.size()) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    arg.push_back('"');
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg.push_back('"');  // "" inside quotes is a literal quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
                continue;
            }
            arg.append(backslashes, '\\');
            if (i >= line.size() || (!quoted && (line[i] == ' ' || line[i] == '\t'))) break;
            arg.push_back(line[i++]);
        }
        out.push_back(std::move(arg));
    }
    return out;
}

}  // namespace mirel::testing
