// Command-line building: whatever arguments go in, the quoted line reads back as the same list
// through an independent parser, or the build refuses a NUL.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "argv_split.hpp"
#include "common/command_line.hpp"
#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A NUL byte would separate arguments; use 0x01 as the separator so NULs reach the quoting.
    const std::vector<std::string> arguments = mirel::fuzzing::split_input(data, size, '\x01');
    const auto line = mirel::build_command_line("C:\\Windows\\system32\\msiexec.exe", arguments);
    bool has_nul = false;
    for (const std::string& argument : arguments) has_nul |= argument.find('\0') != std::string::npos;
    if (has_nul != !line) std::abort();
    if (line && mirel::testing::split_arguments(*line) != arguments) std::abort();
    return 0;
}
