#include "main/run_setup.hpp"

#include <optional>
#include <string>

#include "common/path.hpp"
#include "common/run_log.hpp"
#include "common/run_log_file.hpp"
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

// How long another installation in progress is waited for before the engine starts. Only a test
// build of the program waits less; nothing that a user can set changes it.
#ifdef MIREL_TEST_INSTALLATION_WAIT_MS
constexpr std::uint32_t INSTALLATION_WAIT_MS = MIREL_TEST_INSTALLATION_WAIT_MS;
#else
constexpr std::uint32_t INSTALLATION_WAIT_MS = 60'000;
#endif

// Steps 9 to 15: everything that needs the run's staging directory. It goes as soon as the engine
// has returned, and with this scope on every path before that; always before any failure is
// reported.
Result<std::int32_t> install_and_launch(const LaunchOptions& options, UiLanguage language, const LanguageTexts& texts,
                                         InstallMode mode) {
    ASSIGN_OR_RETURN(StagingDirectory staging, create_staging_directory());
    ASSIGN_OR_RETURN(const std::string package_path, stage_payload(staging, payload_for(language)));
    ASSIGN_OR_RETURN(const std::string product_code, query_product_property(package_path, "ProductCode"));
    log_event("package", {"installing ", package_path, ", ProductCode ", product_code});
    // With a run log, the engine keeps its own verbose log inside the staging directory, where
    // nobody can put a link in its place while it runs; it is copied out beside the run's log.
    std::string engine_log;
    if (options.log_path) engine_log = join_path(staging.path(), ENGINE_LOG_NAME);
    // An installation that is still in progress after the wait ends the run as the engine itself
    // would have ended it.
    std::int32_t exit_code = INSTALLATION_IN_PROGRESS;
    const bool started = wait_for_other_installation(INSTALLATION_WAIT_MS);
    if (started) {
        ASSIGN_OR_RETURN(exit_code, run_installer_engine(package_path, mode, engine_log));
    }
    const std::optional<std::string> engine_log_copy =
        started ? copy_engine_log(staging.handle(), options.log_path) : std::nullopt;

    const InstallerOutcome outcome = installer_outcome(exit_code);
    const bool failed = outcome == InstallerOutcome::Failed && engine_log_copy;
    log_event("engine", {started ? "exit code " : "not started, as if it had ended with exit code ", exit_code, ": ",
                         outcome_text(outcome), failed ? "; the engine's own reason is in " : "",
                         failed ? LogPart(*engine_log_copy) : LogPart(""),
                         failed ? " (the action it ended in, marked \"Return value 3\")" : ""});
    // Nothing from here on needs the package: the product is found through its product code. Gone
    // before any question, it is not left behind by a user who restarts Windows while one is open.
    staging.clean_up();
    // A quiet run hands the engine's exit code back unchanged, whatever it means: deployment tools
    // act on it (3010 a restart, 1618 try again later). A failure's text is still told.
    if (options.quiet && outcome != InstallerOutcome::Failed) return exit_code;
    TextKey question_key = TextKey::launchQuestion;
    switch (outcome) {
        case InstallerOutcome::Installed: break;
        case InstallerOutcome::InstalledRestart: question_key = TextKey::rebootQuestion; break;
        case InstallerOutcome::Cancelled: return 0;
        case InstallerOutcome::Failed:
            return fail(SetupError::from_text(installer_failure_text(texts, exit_code))
                            .ending_with(options.quiet ? exit_code : 1));
    }
    // An update installation starts the application without asking.
    if (!options.update) {
        const bool yes = ask_launch_question(texts, question_key);
        log_event("question", {text_key_name(question_key), " answered ", yes ? "Yes" : "No"});
        if (!yes) return 0;
    }

    ASSIGN_OR_RETURN(const std::string application, find_installed_application(product_code));
    RETURN_IF_ERROR(launch_application(application, texts));
    return 0;
}

}  // namespace

Result<std::int32_t> run_setup(const LaunchOptions& options) {
    if (options.validate) {
        log_event("run", {"validation run: both packages are checked, nothing is installed"});
        RETURN_IF_ERROR(inspect_packages());
        return 0;
    }
    if (options.help) {
        log_event("run", {"help: the options are listed ", options.quiet ? "on standard error" : "in a box"});
        show_help(options.quiet ? FailureReport::StandardError : FailureReport::Box);
        return 0;
    }
    // Looked up first: the process waited for after the inspection must be the one that started
    // this run, not another that has its id by then.
    std::optional<UpdateParent> parent;
    if (options.update) parent.emplace(open_update_parent(options));

    const UiLanguage language = run_language(options);
    const LanguageTexts texts = load_language_texts(language);
    log_event("run", {options.preview  ? "preview run"
                      : options.quiet  ? (options.update ? "quiet update installation" : "quiet installation")
                      : options.update ? "update installation"
                                       : "interactive installation",
                      ", texts in ", language_name(language)});

    InstallMode mode = options.quiet ? InstallMode::Quiet : InstallMode::Basic;
    if (!options.update && !options.quiet) {
        ASSIGN_OR_RETURN(const ModeChoice choice, choose_install_mode(texts));
        log_event("mode", {choice == ModeChoice::Basic      ? "Basic chosen"
                           : choice == ModeChoice::Advanced ? "Advanced chosen"
                                                            : "cancelled: the dialog was cancelled or closed"});
        if (choice == ModeChoice::Cancelled) return 0;
        mode = choice == ModeChoice::Advanced ? InstallMode::Advanced : InstallMode::Basic;
    }
    if (options.preview) return 0;
    // Named but unknown, the language is refused before anything is checked: the caller asked for
    // a package that does not exist, not for the display language's.
    if (options.quiet && options.language && !language_from_code(*options.language))
        return fail(SetupError::from_text(unknown_language_text(texts, *options.language)));

    RETURN_IF_ERROR(inspect_packages());
    if (parent) RETURN_IF_ERROR(wait_for_update_parent(std::move(*parent)));
    return install_and_launch(options, language, texts, mode);
}

}  // namespace mirel
