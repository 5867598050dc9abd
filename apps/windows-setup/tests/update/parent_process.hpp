#pragma once

// A stand-in update parent: the sleeper program beside the test program, alive for `milliseconds`.

#include <memory>
#include <string>

#include "wine_files.hpp"

namespace mirel::test {

inline std::unique_ptr<wine_test::Process> start_parent(unsigned milliseconds) {
    wine_test::LaunchRequest request;
    request.program = wine_test::own_directory() + L"\\update_parent_sleeper.exe";
    request.arguments = {std::to_wstring(milliseconds)};
    return wine_test::start_process(request);
}

}  // namespace mirel::test
