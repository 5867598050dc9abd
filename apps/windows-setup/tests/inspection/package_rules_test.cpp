#include "inspection/package_rules.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_package.hpp"

namespace mirel {
namespace {

using testing::FakePackage;
using testing::Properties;

constexpr std::string_view PATH = "C:\\Temp\\MirelSetup-1-2-0\\en.msi";
constexpr std::string_view LANGUAGE_QUERY = "SELECT Value FROM Property WHERE Property = 'ProductLanguage'";
constexpr std::string_view VERSION_QUERY = "SELECT Value FROM Property WHERE Property = 'ProductVersion'";
constexpr std::string_view CODE_QUERY = "SELECT Value FROM Property WHERE Property = 'ProductCode'";
constexpr std::string_view LAUNCH_TEXT_QUERY =
    "SELECT `Value` FROM `Property` WHERE `Property` = 'WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT'";
constexpr std::string_view EVENT_QUERY =
    "SELECT `Condition` FROM `ControlEvent` WHERE `Event` = 'DoAction' AND `Argument` = 'LaunchApplication'";
constexpr std::string_view SEQUENCE_QUERY =
    "SELECT `Condition` FROM `InstallExecuteSequence` WHERE `Action` = 'LaunchApplication'";
constexpr std::string_view SECURE_QUERY = "SELECT `Value` FROM `Property` WHERE `Property` = 'SecureCustomProperties'";
constexpr std::string_view REMOVE_SHORTCUTS_QUERY =
    "SELECT `Condition` FROM `InstallExecuteSequence` WHERE `Action` = 'RemoveShortcuts'";
constexpr std::string_view DESKTOP_NAME_QUERY =
    "SELECT `FileName` FROM `RemoveFile` WHERE `FileKey` = 'LegacyDesktopMirelShortcut'";
constexpr std::string_view DESKTOP_MODE_QUERY =
    "SELECT `InstallMode` FROM `RemoveFile` WHERE `FileKey` = 'LegacyDesktopMirelShortcut'";
constexpr std::string_view START_MENU_NAME_QUERY =
    "SELECT `FileName` FROM `RemoveFile` WHERE `FileKey` = 'LegacyStartMenuMirelShortcut'";
constexpr std::string_view START_MENU_MODE_QUERY =
    "SELECT `InstallMode` FROM `RemoveFile` WHERE `FileKey` = 'LegacyStartMenuMirelShortcut'";
constexpr std::string_view DOWNLOAD_QUERY =
    "SELECT `Action` FROM `CustomAction` WHERE `Action` = 'DownloadAndInvokeBootstrapper'";

constexpr std::string_view EVENT_CONDITION =
    "WIXUI_EXITDIALOGOPTIONALCHECKBOX = 1 and NOT Installed and NOT MIREL_SETUP_LAUNCH_OWNER";
constexpr std::string_view SEQUENCE_CONDITION = "AUTOLAUNCHAPP AND NOT Installed AND NOT MIREL_SETUP_LAUNCH_OWNER";
// Ignores the marker: starts the application whenever the user asked for it.
constexpr std::string_view CARELESS_CONDITION = "AUTOLAUNCHAPP";
// Never starts the application, with or without the marker.
constexpr std::string_view NEVER_CONDITION = "AUTOLAUNCHAPP AND Installed";
constexpr std::string_view MALFORMED_CONDITION = "AUTOLAUNCHAPP AND (";

std::string property(const Properties& properties, const std::string& name) {
    const auto found = properties.find(name);
    return found == properties.end() ? std::string() : found->second;
}

// A few condition texts judged the way Windows Installer would with these properties.
ConditionResult judge(std::string_view condition, const Properties& p) {
    const bool first_install = property(p, "Installed").empty();
    const bool not_owner = property(p, "MIREL_SETUP_LAUNCH_OWNER").empty();
    const auto result = [](bool value) { return value ? ConditionResult::True : ConditionResult::False; };
    if (condition.empty()) return ConditionResult::None;
    if (condition == EVENT_CONDITION) {
        return result(property(p, "WIXUI_EXITDIALOGOPTIONALCHECKBOX") == "1" && first_install && not_owner);
    }
    if (condition == SEQUENCE_CONDITION)
        return result(!property(p, "AUTOLAUNCHAPP").empty() && first_install && not_owner);
    if (condition == CARELESS_CONDITION) return result(!property(p, "AUTOLAUNCHAPP").empty());
    if (condition == NEVER_CONDITION) return result(!property(p, "AUTOLAUNCHAPP").empty() && !first_install);
    return ConditionResult::Error;
}

// A package that obeys every rule, in the language of `language`.
FakePackage sound_package(UiLanguage language = UiLanguage::English) {
    FakePackage package;
    const bool turkish = language == UiLanguage::Turkish;
    package.answer(LANGUAGE_QUERY, {turkish ? "1055" : "1033"});
    package.answer(VERSION_QUERY, {std::string(SETUP_VERSION)});
    package.answer(CODE_QUERY, {"{6C0C5A2E-0C4B-4E43-9F55-3D8A6C7D2B11}"});
    package.answer(LAUNCH_TEXT_QUERY, {turkish ? "Mirel'ı başlat" : "Launch Mirel"});
    package.answer(EVENT_QUERY, {std::string(EVENT_CONDITION)});
    package.answer(SEQUENCE_QUERY, {std::string(SEQUENCE_CONDITION)});
    package.answer(SECURE_QUERY, {"INSTALLDIR;MIREL_SETUP_LAUNCH_OWNER;WIXUI_EXITDIALOGOPTIONALCHECKBOX"});
    package.answer(REMOVE_SHORTCUTS_QUERY, {"Installed"});
    package.answer(DESKTOP_NAME_QUERY, {"Mirel.lnk"});
    package.answer(DESKTOP_MODE_QUERY, {"1"});
    package.answer(START_MENU_NAME_QUERY, {"Mirel.lnk"});
    package.answer(START_MENU_MODE_QUERY, {"1"});
    package.answer(DOWNLOAD_QUERY, {});
    package.state().judge = judge;
    return package;
}

std::string error_of(const Status& status) {
    return status ? std::string("success") : status.error().text();
}

bool logged(const FakePackage& package, std::string_view entry) {
    const auto& log = package.state().log;
    return std::ranges::find(log, entry) != log.end();
}

std::string query_entry(std::string_view query) {
    return "query: " + std::string(query);
}

// ---------------------------------------------------------------------------------------------
// Identity

TEST(CheckIdentity, SoundPackagesOfBothLanguagesPass) {
    EXPECT_EQ(error_of(check_identity(sound_package(), PATH, UiLanguage::English)), "success");
    EXPECT_EQ(error_of(check_identity(sound_package(UiLanguage::Turkish), PATH, UiLanguage::Turkish)), "success");
}

TEST(CheckIdentity, LanguageAndVersionMustMatchExactly) {
    struct Case {
        UiLanguage slot;
        std::string language;
        std::string version;
    };
    const std::string version(SETUP_VERSION);
    const Case cases[] = {
        {UiLanguage::Turkish, "1033", version},  // an English package in the Turkish slot
        {UiLanguage::English, "1055", version},
        {UiLanguage::English, "1033,1055", version},  // both languages listed
        {UiLanguage::English, " 1033", version},
        {UiLanguage::English, "01033", version},        // same number, other text
        {UiLanguage::English, "1033", version + ".0"},  // a fourth version part
        {UiLanguage::English, "1033", version + "1"},   // another build number
        {UiLanguage::English, "1033", "0" + version},   // same numbers, other text
        {UiLanguage::English, "1033", version + " "},
        {UiLanguage::English, "1033", ""},
    };
    for (const Case& c : cases) {
        FakePackage package = sound_package(c.slot);
        package.answer(LANGUAGE_QUERY, {c.language});
        package.answer(VERSION_QUERY, {c.version});
        EXPECT_EQ(error_of(check_identity(package, PATH, c.slot)), "installer_payload_version_or_language")
            << c.language << " / " << c.version;
    }
}

TEST(CheckIdentity, ProductCodeNeedsOnlyItsBraces) {
    const std::pair<std::string, std::string> cases[] = {
        {"{}", "success"},
        {"{not a guid}", "success"},
        {"", "product_code"},
        {"{", "product_code"},
        {"{6C0C5A2E-0C4B-4E43-9F55-3D8A6C7D2B11", "product_code"},
        {"6C0C5A2E-0C4B-4E43-9F55-3D8A6C7D2B11}", "product_code"},
        {"{6C0C5A2E}\n", "product_code"},
    };
    for (const auto& [code, expected] : cases) {
        FakePackage package = sound_package();
        package.answer(CODE_QUERY, {code});
        EXPECT_EQ(error_of(check_identity(package, PATH, UiLanguage::English)), expected) << code;
    }
}

TEST(CheckIdentity, PropertyRowProblemsPassThroughAndStopTheCheck) {
    FakePackage missing_code = sound_package();
    missing_code.answer(CODE_QUERY, {});
    EXPECT_EQ(error_of(check_identity(missing_code, PATH, UiLanguage::English)), "msi_property");

    FakePackage doubled_language = sound_package();
    doubled_language.answer(LANGUAGE_QUERY, {"1033", "1033"});
    EXPECT_EQ(error_of(check_identity(doubled_language, PATH, UiLanguage::English)), "msi_property");
    EXPECT_FALSE(logged(doubled_language, query_entry(VERSION_QUERY)));

    FakePackage wrong_language = sound_package();
    wrong_language.answer(LANGUAGE_QUERY, {"1055"});
    wrong_language.answer(CODE_QUERY, {""});
    EXPECT_EQ(error_of(check_identity(wrong_language, PATH, UiLanguage::English)),
              "installer_payload_version_or_language");
    EXPECT_FALSE(logged(wrong_language, query_entry(CODE_QUERY)));

    FakePackage unreadable = sound_package();
    unreadable.answer_error(VERSION_QUERY, ErrorCode::MsiDatabase);
    EXPECT_EQ(error_of(check_identity(unreadable, PATH, UiLanguage::English)), "msi_database");
}

// ---------------------------------------------------------------------------------------------
// Launch text

TEST(CheckLaunchText, TheCheckboxTextIsTheTranslationOfThePackagesLanguage) {
    EXPECT_EQ(error_of(check_launch_text(sound_package(), PATH, UiLanguage::English)), "success");
    EXPECT_EQ(error_of(check_launch_text(sound_package(UiLanguage::Turkish), PATH, UiLanguage::Turkish)), "success");

    // The Turkish package with the English text, and the other way round.
    EXPECT_EQ(error_of(check_launch_text(sound_package(), PATH, UiLanguage::Turkish)),
              "installer_payload_launch_translation");
    EXPECT_EQ(error_of(check_launch_text(sound_package(UiLanguage::Turkish), PATH, UiLanguage::English)),
              "installer_payload_launch_translation");
}

TEST(CheckLaunchText, MissingDoubledOrAlteredTextFails) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"Launch Mirel", "Launch Mirel"}, {"launch Mirel"}, {"Launch Mirel "}, {""}, {"msiLaunchApp"}};
    for (const auto& rows : cases) {
        FakePackage package = sound_package();
        package.answer(LAUNCH_TEXT_QUERY, rows);
        EXPECT_EQ(error_of(check_launch_text(package, PATH, UiLanguage::English)),
                  "installer_payload_launch_translation")
            << rows.size();
    }
    FakePackage broken = sound_package();
    broken.answer_error(LAUNCH_TEXT_QUERY, ErrorCode::MsiString);
    EXPECT_EQ(error_of(check_launch_text(broken, PATH, UiLanguage::English)), "msi_string");
}

// ---------------------------------------------------------------------------------------------
// Launch owner

TEST(CheckLaunchOwner, SoundPackagePassesWithTheRealArgumentsInTheFixedOrder) {
    FakePackage package = sound_package();
    ASSERT_EQ(error_of(check_launch_owner(package, PATH)), "success");
    const std::vector<std::string> expected = {
        query_entry(EVENT_QUERY),
        query_entry(SEQUENCE_QUERY),
        query_entry(SECURE_QUERY),
        "open",
        "set Installed=",
        "set AUTOLAUNCHAPP=1",
        "set WIXUI_EXITDIALOGOPTIONALCHECKBOX=1",
        "set MIREL_SETUP_LAUNCH_OWNER=1",  // Basic
        "evaluate " + std::string(EVENT_CONDITION),
        "evaluate " + std::string(SEQUENCE_CONDITION),
        "set MIREL_SETUP_LAUNCH_OWNER=1",  // Advanced
        "evaluate " + std::string(EVENT_CONDITION),
        "evaluate " + std::string(SEQUENCE_CONDITION),
        "set MIREL_SETUP_LAUNCH_OWNER=1",  // Quiet
        "evaluate " + std::string(EVENT_CONDITION),
        "evaluate " + std::string(SEQUENCE_CONDITION),
        "set MIREL_SETUP_LAUNCH_OWNER=",  // standalone
        "evaluate " + std::string(EVENT_CONDITION),
        "evaluate " + std::string(SEQUENCE_CONDITION),
    };
    EXPECT_EQ(package.state().log, expected);
}

TEST(CheckLaunchOwner, EachLaunchPathMustExistExactlyOnce) {
    const std::pair<std::string_view, std::vector<std::string>> cases[] = {
        {EVENT_QUERY, {std::string(EVENT_CONDITION), std::string(EVENT_CONDITION)}},  // on two dialogs
        {EVENT_QUERY, {}},
        {SEQUENCE_QUERY, {}},
        {SEQUENCE_QUERY, {std::string(SEQUENCE_CONDITION), std::string(SEQUENCE_CONDITION)}},
    };
    for (const auto& [query, rows] : cases) {
        FakePackage package = sound_package();
        package.answer(query, rows);
        EXPECT_EQ(error_of(check_launch_owner(package, PATH)), "msi_launch_paths") << query;
        EXPECT_FALSE(logged(package, "open"));
    }
    // Both queries run before their rows are judged.
    FakePackage no_event_table = sound_package();
    no_event_table.answer(EVENT_QUERY, {});
    no_event_table.answer_error(SEQUENCE_QUERY, ErrorCode::MsiView);
    EXPECT_EQ(error_of(check_launch_owner(no_event_table, PATH)), "msi_view");
}

TEST(CheckLaunchOwner, TheMarkerMustBeASecurePropertyByExactName) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"MIREL_SETUP_LAUNCH_OWNER"}, "success"},
        {{"A;MIREL_SETUP_LAUNCH_OWNER;B"}, "success"},
        {{"A;B", "MIREL_SETUP_LAUNCH_OWNER"}, "success"},
        {{"A;B;MIREL_SETUP_LAUNCH_OWNER"}, "success"},
        {{}, "msi_launch_owner_not_secure"},
        {{""}, "msi_launch_owner_not_secure"},
        {{"mirel_setup_launch_owner"}, "msi_launch_owner_not_secure"},
        {{"A; MIREL_SETUP_LAUNCH_OWNER"}, "msi_launch_owner_not_secure"},
        {{"MIREL_SETUP_LAUNCH_OWNER_OLD;A"}, "msi_launch_owner_not_secure"},
        {{"MIREL_SETUP_LAUNCH"}, "msi_launch_owner_not_secure"},
        {{"A,MIREL_SETUP_LAUNCH_OWNER"}, "msi_launch_owner_not_secure"},
    };
    for (const auto& [rows, expected] : cases) {
        FakePackage package = sound_package();
        package.answer(SECURE_QUERY, rows);
        EXPECT_EQ(error_of(check_launch_owner(package, PATH)), expected) << (rows.empty() ? "" : rows.front());
    }
}

TEST(CheckLaunchOwner, OpeningAndPropertyFailuresHaveTheirOwnCodes) {
    FakePackage unopened = sound_package();
    unopened.state().open_fails = true;
    EXPECT_EQ(error_of(check_launch_owner(unopened, PATH)), "msi_launch_package");

    for (const char* name :
         {"Installed", "AUTOLAUNCHAPP", "WIXUI_EXITDIALOGOPTIONALCHECKBOX", "MIREL_SETUP_LAUNCH_OWNER"}) {
        FakePackage package = sound_package();
        package.state().failing_property = name;
        EXPECT_EQ(error_of(check_launch_owner(package, PATH)), "msi_launch_properties") << name;
    }
}

// The argument builder seen by the check, chosen per case.
std::function<std::vector<std::string>(std::string_view, InstallMode)> g_builder;
std::vector<std::string> builder(std::string_view path, InstallMode mode) {
    return g_builder(path, mode);
}

TEST(CheckLaunchOwner, EveryModesArgumentListMustCarryTheMarkerWithValueOne) {
    using List = std::vector<std::string>;
    struct Case {
        const char* name;
        List basic;
        List advanced;
        const char* expected;
        List quiet = {};  // empty: the same as Basic's
    };
    const std::string path(PATH);
    const Case cases[] = {
        {"both correct",
         {"/i", path, "/passive", "MIREL_SETUP_LAUNCH_OWNER=1"},
         {"/i", path, "MIREL_SETUP_LAUNCH_OWNER=1"},
         "success"},
        {"advanced lacks it",
         {"/i", path, "/passive", "MIREL_SETUP_LAUNCH_OWNER=1"},
         {"/i", path},
         "msi_launch_owner_argument"},
        {"basic lacks it",
         {"/i", path, "/passive"},
         {"/i", path, "MIREL_SETUP_LAUNCH_OWNER=1"},
         "msi_launch_owner_argument"},
        {"basic value 0", {"MIREL_SETUP_LAUNCH_OWNER=0"}, {"MIREL_SETUP_LAUNCH_OWNER=1"}, "msi_launch_owner_argument"},
        {"advanced empty value",
         {"MIREL_SETUP_LAUNCH_OWNER=1"},
         {"MIREL_SETUP_LAUNCH_OWNER="},
         "msi_launch_owner_argument"},
        {"value with a space",
         {"MIREL_SETUP_LAUNCH_OWNER=1 "},
         {"MIREL_SETUP_LAUNCH_OWNER=1"},
         "msi_launch_owner_argument"},
        {"lower-case name",
         {"mirel_setup_launch_owner=1"},
         {"MIREL_SETUP_LAUNCH_OWNER=1"},
         "msi_launch_owner_argument"},
        {"first marker counts",
         {"MIREL_SETUP_LAUNCH_OWNER=2", "MIREL_SETUP_LAUNCH_OWNER=1"},
         {"MIREL_SETUP_LAUNCH_OWNER=1"},
         "msi_launch_owner_argument"},
        {"ill-formed argument skipped",
         {"MIREL_SETUP_LAUNCH_OWNER=2\xFF", "MIREL_SETUP_LAUNCH_OWNER=1"},
         {"MIREL_SETUP_LAUNCH_OWNER=1"},
         "success"},
        {"only an ill-formed marker",
         {"MIREL_SETUP_LAUNCH_OWNER=1\xED\xA0\x80"},
         {"MIREL_SETUP_LAUNCH_OWNER=1"},
         "msi_launch_owner_argument"},
        {"quiet lacks it",
         {"/i", path, "/passive", "MIREL_SETUP_LAUNCH_OWNER=1"},
         {"/i", path, "MIREL_SETUP_LAUNCH_OWNER=1"},
         "msi_launch_owner_argument",
         {"/i", path, "/qn"}},
    };
    for (const Case& c : cases) {
        g_builder = [&](std::string_view, InstallMode mode) {
            if (mode == InstallMode::Quiet && !c.quiet.empty()) return c.quiet;
            return mode == InstallMode::Advanced ? c.advanced : c.basic;
        };
        FakePackage package = sound_package();
        EXPECT_EQ(error_of(check_launch_owner(package, PATH, &builder)), c.expected) << c.name;
    }
    g_builder = nullptr;
}

TEST(CheckLaunchOwner, TheBuilderGetsThePackagePathAndEveryModeInOrder) {
    std::vector<std::pair<std::string, InstallMode>> calls;
    g_builder = [&](std::string_view path, InstallMode mode) {
        calls.emplace_back(std::string(path), mode);
        return installer_arguments(path, mode);
    };
    FakePackage package = sound_package();
    EXPECT_EQ(error_of(check_launch_owner(package, PATH, &builder)), "success");
    const std::vector<std::pair<std::string, InstallMode>> expected = {
        {std::string(PATH), InstallMode::Basic}, {std::string(PATH), InstallMode::Advanced},
        {std::string(PATH), InstallMode::Quiet}};
    EXPECT_EQ(calls, expected);
    g_builder = nullptr;
}

TEST(CheckLaunchOwner, ConditionsMustBeFalseWithTheMarkerAndTrueWithout) {
    struct Case {
        std::string_view event;
        std::string_view sequence;
        const char* expected;
    };
    const Case cases[] = {
        {"", SEQUENCE_CONDITION, "msi_bootstrapper_auto_launch"},  // None is not False
        {EVENT_CONDITION, "", "msi_bootstrapper_auto_launch"},
        {EVENT_CONDITION, CARELESS_CONDITION, "msi_bootstrapper_auto_launch"},
        {MALFORMED_CONDITION, SEQUENCE_CONDITION, "msi_bootstrapper_auto_launch"},
        {NEVER_CONDITION, SEQUENCE_CONDITION, "msi_standalone_launch_condition"},
        {EVENT_CONDITION, NEVER_CONDITION, "msi_standalone_launch_condition"},
    };
    for (const Case& c : cases) {
        FakePackage package = sound_package();
        package.answer(EVENT_QUERY, {std::string(c.event)});
        package.answer(SEQUENCE_QUERY, {std::string(c.sequence)});
        EXPECT_EQ(error_of(check_launch_owner(package, PATH)), c.expected) << c.event << " / " << c.sequence;
    }
}

// ---------------------------------------------------------------------------------------------
// Shortcut clean-up

TEST(CheckShortcutCleanup, SoundPackagePasses) {
    FakePackage package = sound_package();
    EXPECT_EQ(error_of(check_shortcut_cleanup(package, PATH)), "success");
    const std::vector<std::string> expected = {query_entry(REMOVE_SHORTCUTS_QUERY), query_entry(DESKTOP_NAME_QUERY),
                                               query_entry(DESKTOP_MODE_QUERY), query_entry(START_MENU_NAME_QUERY),
                                               query_entry(START_MENU_MODE_QUERY)};
    EXPECT_EQ(package.state().log, expected);
}

TEST(CheckShortcutCleanup, RemoveShortcutsRunsOnlyOnInstalledProducts) {
    const std::vector<std::vector<std::string>> cases = {{},
                                                         {""},
                                                         {"installed"},
                                                         {"Installed "},
                                                         {"Installed AND NOT UPGRADINGPRODUCTCODE"},
                                                         {"Installed", "Installed"}};
    for (const auto& rows : cases) {
        FakePackage package = sound_package();
        package.answer(REMOVE_SHORTCUTS_QUERY, rows);
        EXPECT_EQ(error_of(check_shortcut_cleanup(package, PATH)), "msi_shortcut_upgrade_cleanup");
    }
}

TEST(CheckShortcutCleanup, LegacyShortcutsAreRemovedByExactNameOnInstall) {
    const std::pair<std::string_view, std::vector<std::string>> cases[] = {
        {DESKTOP_NAME_QUERY, {"MIREL~1.LNK|Mirel.lnk"}},
        {DESKTOP_NAME_QUERY, {"mirel.lnk"}},
        {DESKTOP_MODE_QUERY, {"3"}},  // on install and on removal
        {DESKTOP_MODE_QUERY, {"2"}},
        {START_MENU_NAME_QUERY, {}},
        {START_MENU_MODE_QUERY, {"1", "1"}},
    };
    for (const auto& [query, rows] : cases) {
        FakePackage package = sound_package();
        package.answer(query, rows);
        EXPECT_EQ(error_of(check_shortcut_cleanup(package, PATH)), "msi_legacy_shortcut_cleanup") << query;
    }
    // A missing Start menu row is noticed after both desktop queries have run.
    FakePackage package = sound_package();
    package.answer(START_MENU_NAME_QUERY, {});
    ASSERT_EQ(error_of(check_shortcut_cleanup(package, PATH)), "msi_legacy_shortcut_cleanup");
    EXPECT_TRUE(logged(package, query_entry(DESKTOP_MODE_QUERY)));
    EXPECT_FALSE(logged(package, query_entry(START_MENU_MODE_QUERY)));
}

TEST(CheckShortcutCleanup, AMissingRemoveFileTableIsAQueryError) {
    FakePackage package = sound_package();
    package.answer_error(DESKTOP_NAME_QUERY, ErrorCode::MsiView);
    EXPECT_EQ(error_of(check_shortcut_cleanup(package, PATH)), "msi_view");
}

// ---------------------------------------------------------------------------------------------
// Download ban and the order of the rules

TEST(CheckDownloadBan, AnyDownloadActionRowFails) {
    FakePackage package = sound_package();
    EXPECT_EQ(error_of(check_download_ban(package, PATH)), "success");
    package.answer(DOWNLOAD_QUERY, {"DownloadAndInvokeBootstrapper"});
    EXPECT_EQ(error_of(check_download_ban(package, PATH)), "installer_runtime_download_forbidden");
    package.answer_error(DOWNLOAD_QUERY, ErrorCode::MsiExecute);
    EXPECT_EQ(error_of(check_download_ban(package, PATH)), "msi_execute");
}

TEST(CheckPackage, RulesRunInTheFixedOrderAndTheFirstFailureEndsThem) {
    FakePackage package = sound_package(UiLanguage::Turkish);
    std::vector<std::string> runtime_paths;
    const PackageCheck runtime = [&](std::string_view path) {
        runtime_paths.emplace_back(path);
        package.state().log.push_back("web runtime");
        return Status{};
    };
    ASSERT_EQ(error_of(check_package(package, runtime, PATH, UiLanguage::Turkish)), "success");
    EXPECT_EQ(runtime_paths, std::vector<std::string>{std::string(PATH)});
    const auto& log = package.state().log;
    const auto position = [&](std::string_view entry) { return std::ranges::find(log, entry) - log.begin(); };
    EXPECT_LT(position(query_entry(CODE_QUERY)), position("web runtime"));
    EXPECT_LT(position("web runtime"), position(query_entry(REMOVE_SHORTCUTS_QUERY)));
    EXPECT_LT(position(query_entry(START_MENU_MODE_QUERY)), position(query_entry(EVENT_QUERY)));
    EXPECT_EQ(log.back(), query_entry(LAUNCH_TEXT_QUERY));
}

TEST(CheckPackage, EarlierRulesWinOverLaterOnes) {
    const PackageCheck runtime_fails = [](std::string_view) -> Status {
        return fail(ErrorCode::InstallerRuntimeSignature);
    };
    const PackageCheck runtime_passes = [](std::string_view) { return Status{}; };

    // Broken identity and broken shortcuts: identity reports, the runtime is never examined.
    FakePackage package = sound_package();
    package.answer(VERSION_QUERY, {"0.1.57"});
    package.answer(REMOVE_SHORTCUTS_QUERY, {});
    EXPECT_EQ(error_of(check_package(package, runtime_fails, PATH, UiLanguage::English)),
              "installer_payload_version_or_language");

    FakePackage shortcuts = sound_package();
    shortcuts.answer(REMOVE_SHORTCUTS_QUERY, {});
    EXPECT_EQ(error_of(check_package(shortcuts, runtime_fails, PATH, UiLanguage::English)),
              "installer_runtime_signature");
    EXPECT_FALSE(logged(shortcuts, query_entry(REMOVE_SHORTCUTS_QUERY)));

    FakePackage launch = sound_package();
    launch.answer(REMOVE_SHORTCUTS_QUERY, {});
    launch.answer(EVENT_QUERY, {});
    EXPECT_EQ(error_of(check_package(launch, runtime_passes, PATH, UiLanguage::English)),
              "msi_shortcut_upgrade_cleanup");

    FakePackage text = sound_package();
    text.answer(SECURE_QUERY, {});
    text.answer(LAUNCH_TEXT_QUERY, {});
    EXPECT_EQ(error_of(check_package(text, runtime_passes, PATH, UiLanguage::English)), "msi_launch_owner_not_secure");

    FakePackage only_text = sound_package();
    only_text.answer(LAUNCH_TEXT_QUERY, {"Mirel'ı başlat"});
    EXPECT_EQ(error_of(check_package(only_text, runtime_passes, PATH, UiLanguage::English)),
              "installer_payload_launch_translation");
}

}  // namespace
}  // namespace mirel
