#include "main/run_setup.hpp"

#include <optional>
#include <string>

#include "dialogs/dialogs.hpp"
#include "dialogs/failure_texts.hpp"
#include "inspection/inspect_packages.hpp"
#include "inspection/queries.hpp"
#include "install/engine.hpp"
#include "install/installer.hpp"
#include "options/run_language.hpp"
#include "staging/payloads.hpp"
#include "staging/staging.hpp"
#include "texts/language_texts.hpp"
#include "update/update_parent.hpp"

namespace mirel {
namespace {

// Steps 9 to 15: everything that needs the run's staging directory, which the caller's scope
// removes again on every path before any failure is reported.
Status install_and_launch(const LaunchOptions& options, UiLanguage language, const LanguageTexts& texts,
                          InstallMode mode) {
    ASSIGN_OR_RETURN(StagingDirectory staging, create_staging_directory());
    ASSIGN_OR_RETURN(const std::string package_path, stage_payload(staging, payload_for(language)));
    ASSIGN_OR_RETURN(const std::string product_code, query_product_property(package_path, "ProductCode"));
    ASSIGN_OR_RETURN(const std::int32_t exit_code, run_installer_engine(package_path, mode));

    TextKey question_key = TextKey::launchQuestion;
    switch (installer_outcome(exit_code)) {
        case InstallerOutcome::Installed: break;
        case InstallerOutcome::InstalledRestart: question_key = TextKey::rebootQuestion; break;
        case InstallerOutcome::Cancelled: return {};
        case InstallerOutcome::Failed: return fail(SetupError::from_text(installer_failure_text(texts, exit_code)));
    }
    // An update installation starts the application without asking.
    if (!options.update && !ask_launch_question(texts, question_key)) return {};

    ASSIGN_OR_RETURN(const std::string application, find_installed_application(product_code));
    return launch_application(application, texts);
}

}  // namespace

Status run_setup(const LaunchOptions& options) {
    if (options.validate) return inspect_packages();
    // Looked up first: the process waited for after the inspection must be the one that started
    // this run, not another that has its id by then.
    std::optional<UpdateParent> parent;
    if (options.update) parent.emplace(open_update_parent(options));

    const UiLanguage language = run_language(options);
    const LanguageTexts texts = load_language_texts(language);

    InstallMode mode = InstallMode::Basic;
    if (!options.update) {
        ASSIGN_OR_RETURN(const ModeChoice choice, choose_install_mode(texts));
        if (choice == ModeChoice::Cancelled) return {};
        mode = choice == ModeChoice::Advanced ? InstallMode::Advanced : InstallMode::Basic;
    }
    if (options.preview) return {};

    RETURN_IF_ERROR(inspect_packages());
    if (parent) RETURN_IF_ERROR(wait_for_update_parent(std::move(*parent)));
    return install_and_launch(options, language, texts, mode);
}

}  // namespace mirel
