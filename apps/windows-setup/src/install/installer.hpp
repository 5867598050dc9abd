#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/setup_error.hpp"
#include "common/ui_language.hpp"

namespace mirel {

enum class InstallerOutcome { Installed, InstalledRestart, Cancelled, Failed };

// ERROR_INSTALL_ALREADY_RUNNING: another installation holds the installer.
inline constexpr std::int32_t INSTALLATION_IN_PROGRESS = 1618;

inline constexpr std::string_view LAUNCH_OWNER_PROPERTY = "MIREL_SETUP_LAUNCH_OWNER";

// The engine's program file, named bare on its command line.
inline constexpr std::string_view INSTALLER_PROGRAM = "msiexec.exe";

// Gives the exit dialog's optional check box an empty text, which hides it: the setup program
// asks the launch question itself. Appended verbatim, because quoting would turn the two double
// quotes into part of the value.
inline constexpr std::string_view EXIT_DIALOG_CHECKBOX_ARGUMENT = R"(WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")";

// The engine's arguments: "/i", the package path, "/norestart", then "/passive" (Basic) or "/qn"
// (Quiet), "/l*v" and `engine_log` when one is given, and "MIREL_SETUP_LAUNCH_OWNER=1".
[[nodiscard]] std::vector<std::string> installer_arguments(std::string_view package_path, InstallMode mode,
                                                           std::string_view engine_log);
// The same without an engine log, the arguments that the package rules check.
[[nodiscard]] std::vector<std::string> installer_arguments(std::string_view package_path, InstallMode mode);

// The engine's whole command line (UTF-8): the quoted bare program name, the quoted arguments and
// the raw exit-dialog argument last. Fails when an argument holds a NUL character.
[[nodiscard]] Result<std::string> installer_command_line(std::string_view package_path, InstallMode mode,
                                                         std::string_view engine_log = {});

[[nodiscard]] InstallerOutcome installer_outcome(std::int32_t exit_code);

// What the outcome means, in a few words for the run's log.
[[nodiscard]] std::string_view outcome_text(InstallerOutcome outcome);

}  // namespace mirel
