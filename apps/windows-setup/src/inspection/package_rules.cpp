#include "inspection/package_rules.hpp"

#include <array>
#include <optional>
#include <utility>

#include "common/run_log.hpp"
#include "common/unicode.hpp"
#include "texts/language_texts.hpp"

namespace mirel {
namespace {

constexpr std::string_view LAUNCH_TEXT_QUERY =
    "SELECT `Value` FROM `Property` WHERE `Property` = 'WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT'";
constexpr std::string_view LAUNCH_EVENT_QUERY =
    "SELECT `Condition` FROM `ControlEvent` WHERE `Event` = 'DoAction' AND `Argument` = 'LaunchApplication'";
constexpr std::string_view LAUNCH_SEQUENCE_QUERY =
    "SELECT `Condition` FROM `InstallExecuteSequence` WHERE `Action` = 'LaunchApplication'";
constexpr std::string_view SECURE_PROPERTIES_QUERY =
    "SELECT `Value` FROM `Property` WHERE `Property` = 'SecureCustomProperties'";
constexpr std::string_view REMOVE_SHORTCUTS_QUERY =
    "SELECT `Condition` FROM `InstallExecuteSequence` WHERE `Action` = 'RemoveShortcuts'";
constexpr std::string_view DOWNLOAD_ACTION_QUERY =
    "SELECT `Action` FROM `CustomAction` WHERE `Action` = 'DownloadAndInvokeBootstrapper'";

constexpr TextKey LAUNCH_TEXT_KEY = TextKey::msiLaunchApp;
constexpr std::string_view LAUNCH_OWNER_PREFIX = "MIREL_SETUP_LAUNCH_OWNER=";
constexpr std::string_view LAUNCH_OWNER_VALUE = "1";

struct PresetProperty {
    std::string_view name;
    std::string_view value;
};
// As on a first installation whose user left the exit dialog's launch checkbox ticked.
constexpr std::array<PresetProperty, 3> PRESET_PROPERTIES = {{
    {"Installed", ""},
    {"AUTOLAUNCHAPP", "1"},
    {"WIXUI_EXITDIALOGOPTIONALCHECKBOX", "1"},
}};

constexpr std::array<std::string_view, 2> LEGACY_SHORTCUT_KEYS = {"LegacyDesktopMirelShortcut",
                                                                  "LegacyStartMenuMirelShortcut"};
constexpr std::string_view LEGACY_SHORTCUT_FILE = "Mirel.lnk";
constexpr std::string_view LEGACY_SHORTCUT_INSTALL_MODE = "1";
constexpr std::string_view REMOVE_SHORTCUTS_CONDITION = "Installed";

bool is_single(const std::vector<std::string>& rows, std::string_view text) {
    return rows.size() == 1 && rows.front() == text;
}

bool lists_launch_owner(std::string_view value) {
    for (;;) {
        const std::size_t end = value.find(';');
        if (value.substr(0, end) == LAUNCH_OWNER_PROPERTY) return true;
        if (end == std::string_view::npos) return false;
        value.remove_prefix(end + 1);
    }
}

// The marker value of the first well-formed argument that carries it, or nothing.
std::optional<std::string> launch_owner_value(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (!is_valid_utf8(argument)) continue;
        if (argument.starts_with(LAUNCH_OWNER_PREFIX)) return argument.substr(LAUNCH_OWNER_PREFIX.size());
    }
    return std::nullopt;
}

bool conditions_give(OpenedPackage& package, const std::array<std::string, 2>& conditions, ConditionResult expected,
                     std::string_view when) {
    for (const std::string& condition : conditions) {
        const ConditionResult result = package.evaluate_condition(condition);
        if (result == expected) continue;
        log_event("rule", {"launch condition \"", LogPart::outside(condition), "\" ", when, " evaluates to ",
                           static_cast<int>(result), ", not ", static_cast<int>(expected),
                           " (0 false, 1 true, 2 empty, 3 malformed)"});
        return false;
    }
    return true;
}

// The rule's outcome in the run's log, and the outcome itself.
Status logged(std::string_view rule, Status outcome) {
    log_event("rule", {rule, outcome ? ": passed" : ": failed with ", outcome ? "" : LogPart::error(outcome.error())});
    return outcome;
}

}  // namespace

std::string_view expected_product_language(UiLanguage language) {
    return language == UiLanguage::Turkish ? "1055" : "1033";
}

Status check_identity(const PackageQueries& queries, std::string_view package_path, UiLanguage language) {
    ASSIGN_OR_RETURN(const std::string product_language,
                     query_product_property(queries, package_path, "ProductLanguage"));
    log_event("package", {"ProductLanguage \"", LogPart::outside(product_language), "\", expected \"",
                          expected_product_language(language), "\""});
    if (product_language != expected_product_language(language))
        return fail(ErrorCode::InstallerPayloadVersionOrLanguage);

    ASSIGN_OR_RETURN(const std::string version, query_product_property(queries, package_path, "ProductVersion"));
    log_event("package", {"ProductVersion \"", LogPart::outside(version), "\", expected \"", SETUP_VERSION, "\""});
    if (version != SETUP_VERSION) return fail(ErrorCode::InstallerPayloadVersionOrLanguage);

    ASSIGN_OR_RETURN(const std::string product_code, query_product_property(queries, package_path, "ProductCode"));
    log_event("package", {"ProductCode \"", LogPart::outside(product_code), "\", expected in braces"});
    if (product_code.empty() || product_code.front() != '{' || product_code.back() != '}') {
        return fail(ErrorCode::ProductCode);
    }
    return {};
}

Status check_launch_text(const PackageQueries& queries, std::string_view package_path, UiLanguage language) {
    const LanguageTexts texts = load_language_texts(language);
    const std::string expected(localized_text(texts, LAUNCH_TEXT_KEY));
    ASSIGN_OR_RETURN(const std::vector<std::string> rows, queries.query_column(package_path, LAUNCH_TEXT_QUERY));
    if (!is_single(rows, expected)) {
        log_event("rule", {"the exit dialog's launch text is ", LogPart::rows(rows), ", expected \"", expected, "\""});
        return fail(ErrorCode::InstallerPayloadLaunchTranslation);
    }
    return {};
}

Status check_launch_owner(const PackageQueries& queries, std::string_view package_path,
                          InstallerArgumentsBuilder arguments) {
    ASSIGN_OR_RETURN(const std::vector<std::string> event_rows, queries.query_column(package_path, LAUNCH_EVENT_QUERY));
    ASSIGN_OR_RETURN(const std::vector<std::string> sequence_rows,
                     queries.query_column(package_path, LAUNCH_SEQUENCE_QUERY));
    if (event_rows.size() != 1 || sequence_rows.size() != 1) {
        log_event("rule", {"launch paths: the exit dialog's event gives ", LogPart::rows(event_rows),
                           ", the execute sequence gives ", LogPart::rows(sequence_rows), "; one each expected"});
        return fail(ErrorCode::MsiLaunchPaths);
    }
    const std::array<std::string, 2> launch_conditions = {event_rows.front(), sequence_rows.front()};

    ASSIGN_OR_RETURN(const std::vector<std::string> secure_rows,
                     queries.query_column(package_path, SECURE_PROPERTIES_QUERY));
    bool secure = false;
    for (const std::string& row : secure_rows) secure = secure || lists_launch_owner(row);
    if (!secure) {
        log_event("rule",
                  {"SecureCustomProperties is ", LogPart::rows(secure_rows), ", without ", LAUNCH_OWNER_PROPERTY});
        return fail(ErrorCode::MsiLaunchOwnerNotSecure);
    }

    auto opened = queries.open_package(package_path);
    if (!opened) return fail(ErrorCode::MsiLaunchPackage);
    OpenedPackage& package = **opened;

    for (const PresetProperty& preset : PRESET_PROPERTIES) {
        RETURN_IF_ERROR(package.set_property(preset.name, preset.value));
    }

    // Every list the program passes: Basic runs passive, Advanced with the engine's full interface,
    // Quiet with none; an application started by a quiet installation would never let it return.
    for (const auto& [mode, when] : {std::pair{InstallMode::Basic, "with the marker, Basic"},
                                     std::pair{InstallMode::Advanced, "with the marker, Advanced"},
                                     std::pair{InstallMode::Quiet, "with the marker, Quiet"}}) {
        const std::optional<std::string> marker = launch_owner_value(arguments(package_path, mode));
        if (!marker || *marker != LAUNCH_OWNER_VALUE) return fail(ErrorCode::MsiLaunchOwnerArgument);
        RETURN_IF_ERROR(package.set_property(LAUNCH_OWNER_PROPERTY, *marker));
        if (!conditions_give(package, launch_conditions, ConditionResult::False, when)) {
            return fail(ErrorCode::MsiBootstrapperAutoLaunch);
        }
    }

    RETURN_IF_ERROR(package.set_property(LAUNCH_OWNER_PROPERTY, ""));
    if (!conditions_give(package, launch_conditions, ConditionResult::True, "without the marker")) {
        return fail(ErrorCode::MsiStandaloneLaunchCondition);
    }
    return {};
}

Status check_shortcut_cleanup(const PackageQueries& queries, std::string_view package_path) {
    ASSIGN_OR_RETURN(const std::vector<std::string> sequence_rows,
                     queries.query_column(package_path, REMOVE_SHORTCUTS_QUERY));
    if (!is_single(sequence_rows, REMOVE_SHORTCUTS_CONDITION)) {
        log_event("rule", {"RemoveShortcuts runs on ", LogPart::rows(sequence_rows), ", expected \"",
                           REMOVE_SHORTCUTS_CONDITION, "\""});
        return fail(ErrorCode::MsiShortcutUpgradeCleanup);
    }

    for (const std::string_view key : LEGACY_SHORTCUT_KEYS) {
        const auto query = [&](std::string_view column) {
            std::string text = "SELECT `";
            text.append(column).append("` FROM `RemoveFile` WHERE `FileKey` = '").append(key).append("'");
            return text;
        };
        const auto refuse = [&](std::string_view column, const std::vector<std::string>& rows,
                                std::string_view wanted) {
            log_event("rule", {key, " has ", column, " ", LogPart::rows(rows), ", expected \"", wanted, "\""});
            return fail(ErrorCode::MsiLegacyShortcutCleanup);
        };
        ASSIGN_OR_RETURN(const std::vector<std::string> names, queries.query_column(package_path, query("FileName")));
        if (!is_single(names, LEGACY_SHORTCUT_FILE)) return refuse("FileName", names, LEGACY_SHORTCUT_FILE);
        ASSIGN_OR_RETURN(const std::vector<std::string> modes,
                         queries.query_column(package_path, query("InstallMode")));
        if (!is_single(modes, LEGACY_SHORTCUT_INSTALL_MODE))
            return refuse("InstallMode", modes, LEGACY_SHORTCUT_INSTALL_MODE);
    }
    return {};
}

Status check_download_ban(const PackageQueries& queries, std::string_view package_path) {
    ASSIGN_OR_RETURN(const std::vector<std::string> rows, queries.query_column(package_path, DOWNLOAD_ACTION_QUERY));
    if (!rows.empty()) {
        log_event("rule", {"the package has the custom action ", LogPart::rows(rows)});
        return fail(ErrorCode::InstallerRuntimeDownloadForbidden);
    }
    return {};
}

Status check_package(const PackageQueries& queries, const PackageCheck& check_web_runtime,
                     std::string_view package_path, UiLanguage language) {
    RETURN_IF_ERROR(logged("identity", check_identity(queries, package_path, language)));
    RETURN_IF_ERROR(logged("web runtime installer", check_web_runtime(package_path)));
    RETURN_IF_ERROR(logged("shortcut clean-up", check_shortcut_cleanup(queries, package_path)));
    RETURN_IF_ERROR(logged("launch owner", check_launch_owner(queries, package_path)));
    return logged("launch text", check_launch_text(queries, package_path, language));
}

}  // namespace mirel
