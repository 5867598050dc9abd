#include "install/engine.hpp"

namespace mirel {

// Placeholder until the installer engine lands.
Result<std::int32_t> run_installer_engine(std::string_view, InstallMode) { return fail("install_not_built"); }
Result<std::string> find_installed_application(std::string_view) { return fail("install_not_built"); }
Status launch_application(std::string_view, const LanguageTexts&) { return fail("install_not_built"); }

}  // namespace mirel
