#pragma once

#include <expected>
#include <string>

#include "common/os.hpp"

namespace mirel {

// Why the desktop shell did not take a program to start: the call that failed and its HRESULT.
struct ShellRefusal {
    const char* call;
    HRESULT result;
};

// Asks the desktop's own shell to open `file` in `folder`, as a double click on it would: the shell
// of the signed-in user, whatever rights this process has. Success once the shell has taken the
// request; it starts the program on its own.
[[nodiscard]] std::expected<void, ShellRefusal> open_through_desktop_shell(const std::wstring& file,
                                                                           const std::wstring& folder);

}  // namespace mirel
