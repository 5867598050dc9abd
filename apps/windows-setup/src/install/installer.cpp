#include "install/installer.hpp"

#include "common/command_line.hpp"

namespace mirel {

std::vector<std::string> installer_arguments(std::string_view package_path, bool passive) {
    std::vector<std::string> arguments = {"/i", std::string(package_path), "/norestart"};
    if (passive) arguments.emplace_back("/passive");
    arguments.emplace_back(std::string(LAUNCH_OWNER_PROPERTY) + "=1");
    return arguments;
}

Result<std::string> installer_command_line(std::string_view package_path, InstallMode mode) {
    const std::vector<std::string> arguments = installer_arguments(package_path, mode == InstallMode::Basic);
    ASSIGN_OR_RETURN(std::string command_line, build_command_line(INSTALLER_PROGRAM, arguments));
    command_line.push_back(' ');
    command_line.append(EXIT_DIALOG_CHECKBOX_ARGUMENT);
    return command_line;
}

InstallerOutcome installer_outcome(std::int32_t exit_code) {
    switch (exit_code) {
        case 0: return InstallerOutcome::Installed;
        case 1641:  // restart started
        case 3010:  // restart required
            return InstallerOutcome::InstalledRestart;
        case 1602: return InstallerOutcome::Cancelled;
        default: return InstallerOutcome::Failed;
    }
}

}  // namespace mirel
