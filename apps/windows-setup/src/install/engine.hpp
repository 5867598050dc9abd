#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/setup_error.hpp"
#include "common/ui_language.hpp"
#include "texts/language_texts.hpp"

namespace mirel {

// Waits at most `bound_ms` for another installation in progress on the machine to end; false when
// it has not ended by then. Whatever keeps the program from telling counts as none in progress.
[[nodiscard]] bool wait_for_other_installation(std::uint32_t bound_ms);

// Runs msiexec.exe on the package and waits for it; the engine's exit code, signed. With
// `engine_log`, the engine writes its own verbose log there.
[[nodiscard]] Result<std::int32_t> run_installer_engine(std::string_view package_path, InstallMode mode,
                                                        std::string_view engine_log = {});

// The installed "mirel-desktop.exe" of the product, found through its install location.
[[nodiscard]] Result<std::string> find_installed_application(std::string_view product_code);

// Asks the shell to open the program file, in an elevated run the desktop's shell of the signed-in
// user where there is one; the run's "launchFailed" text when it refuses.
[[nodiscard]] Status launch_application(std::string_view path, const LanguageTexts& texts);

}  // namespace mirel
