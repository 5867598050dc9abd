#include "install/installer.hpp"

#include "common/command_line.hpp"

namespace mirel {

std::vector<std::string> installer_arguments(std::string_view package_path, InstallMode mode,
                                             std::string_view engine_log) {
    std::vector<std::string> arguments = {"/i", std::string(package_path), "/norestart"};
    if (mode == InstallMode::Basic) arguments.emplace_back("/passive");
    if (mode == InstallMode::Quiet) arguments.emplace_back("/qn");
    if (!engine_log.empty()) {
        // Every kind of message, verbose: the engine's own account of why it failed.
        arguments.emplace_back("/l*v");
        arguments.emplace_back(engine_log);
    }
    arguments.emplace_back(std::string(LAUNCH_OWNER_PROPERTY) + "=1");
    return arguments;
}

std::vector<std::string> installer_arguments(std::string_view package_path, InstallMode mode) {
    return installer_arguments(package_path, mode, {});
}

Result<std::string> installer_command_line(std::string_view package_path, InstallMode mode,
                                           std::string_view engine_log) {
    const std::vector<std::string> arguments = installer_arguments(package_path, mode, engine_log);
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

std::string_view outcome_text(InstallerOutcome outcome) {
    switch (outcome) {
        case InstallerOutcome::Installed: return "installed";
        case InstallerOutcome::InstalledRestart: return "installed, Windows waits for a restart";
        case InstallerOutcome::Cancelled: return "cancelled by the user in the engine";
        case InstallerOutcome::Failed: break;
    }
    return "failed";
}

}  // namespace mirel
