// Option parsing never fails, and what it reports can be traced back to the arguments.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.hpp"
#include "options/launch_options.hpp"
#include "update/parent_pid.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto arguments = mirel::fuzzing::split_input(data, size, '\0');
    const mirel::LaunchOptions options = mirel::parse_launch_options(arguments);
    const auto has = [&](const std::string& exact) { return std::ranges::count(arguments, exact) > 0; };
    if (options.validate != has("--validate") || options.update != has("--update")) std::abort();
    if (options.quiet != has("--quiet") || options.help != (has("--help") || has("/?"))) std::abort();
    if (options.forced_language && !options.preview) std::abort();
    if (options.language && !has("--language=" + *options.language)) std::abort();
    if (options.wait_pid && !has("--wait-pid=" + *options.wait_pid)) std::abort();
    if (options.wait_pid) (void)mirel::parse_parent_pid(*options.wait_pid);
    return 0;
}
