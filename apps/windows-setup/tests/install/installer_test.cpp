#include "install/installer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirel {
namespace {

using Arguments = std::vector<std::string>;

TEST(InstallerArguments, PassiveListHasFiveElementsWithPassiveFourth) {
    EXPECT_EQ(installer_arguments(R"(C:\T\en.msi)", InstallMode::Basic),
              (Arguments{"/i", R"(C:\T\en.msi)", "/norestart", "/passive", "MIREL_SETUP_LAUNCH_OWNER=1"}));
}

TEST(InstallerArguments, FullInterfaceListHasFourElementsWithLaunchOwnerFourth) {
    EXPECT_EQ(installer_arguments(R"(C:\T\en.msi)", InstallMode::Advanced),
              (Arguments{"/i", R"(C:\T\en.msi)", "/norestart", "MIREL_SETUP_LAUNCH_OWNER=1"}));
}

TEST(InstallerArguments, PackagePathIsPassedUnchanged) {
    const std::string path = "C:\\Users\\Test User\\\"odd\\\\ t\xC4\xB1r.msi";
    EXPECT_EQ(installer_arguments(path, InstallMode::Basic)[1], path);
}

TEST(InstallerCommandLine, BasicInstallationOfAPlainPath) {
    const Result<std::string> line =
        installer_command_line(R"(C:\Users\A\AppData\Local\Temp\MirelSetup-812-1700000000-0\en.msi)", InstallMode::Basic);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line,
              R"("msiexec.exe" /i C:\Users\A\AppData\Local\Temp\MirelSetup-812-1700000000-0\en.msi )"
              R"(/norestart /passive MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")");
}

TEST(InstallerCommandLine, QuietInstallationHasTheNoInterfaceSwitchInPlaceOfPassive) {
    const Result<std::string> line =
        installer_command_line(R"(C:\T\MirelSetup-1-2-0\en.msi)", InstallMode::Quiet, R"(C:\L\run.log.engine.log)");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, R"("msiexec.exe" /i C:\T\MirelSetup-1-2-0\en.msi /norestart /qn /l*v C:\L\run.log.engine.log )"
                     R"(MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")");
}

TEST(InstallerCommandLine, AdvancedInstallationHasNoPassiveSwitch) {
    const Result<std::string> line = installer_command_line(R"(C:\T\MirelSetup-1-2-0\tr.msi)", InstallMode::Advanced);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, R"("msiexec.exe" /i C:\T\MirelSetup-1-2-0\tr.msi /norestart MIREL_SETUP_LAUNCH_OWNER=1 )"
                     R"(WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")");
}

TEST(InstallerCommandLine, PathWithASpaceIsQuotedInBothModes) {
    const std::string path = R"(C:\Users\Test User\AppData\Local\Temp\MirelSetup-9-5-1\en.msi)";
    const Result<std::string> basic = installer_command_line(path, InstallMode::Basic);
    const Result<std::string> advanced = installer_command_line(path, InstallMode::Advanced);
    ASSERT_TRUE(basic.has_value());
    ASSERT_TRUE(advanced.has_value());
    EXPECT_EQ(*basic, R"("msiexec.exe" /i "C:\Users\Test User\AppData\Local\Temp\MirelSetup-9-5-1\en.msi" )"
                      R"(/norestart /passive MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")");
    EXPECT_EQ(*advanced, R"("msiexec.exe" /i "C:\Users\Test User\AppData\Local\Temp\MirelSetup-9-5-1\en.msi" )"
                         R"(/norestart MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")");
}

TEST(InstallerCommandLine, PathWithATabOrAQuoteIsEscapedForTheChildsParser) {
    const Result<std::string> tab = installer_command_line("C:\\a\tb\\", InstallMode::Advanced);
    ASSERT_TRUE(tab.has_value());
    // The trailing backslash is doubled so that it does not escape the closing quote.
    EXPECT_NE(tab->find(" \"C:\\a\tb\\\\\" /norestart"), std::string::npos) << *tab;

    const Result<std::string> quote = installer_command_line(R"(C:\a"b.msi)", InstallMode::Advanced);
    ASSERT_TRUE(quote.has_value());
    EXPECT_NE(quote->find(R"( C:\a\"b.msi /norestart)"), std::string::npos) << *quote;
}

TEST(InstallerCommandLine, RawExitDialogArgumentComesLastWithItsTwoQuotes) {
    for (const InstallMode mode : {InstallMode::Basic, InstallMode::Advanced, InstallMode::Quiet}) {
        for (const std::string path : {R"(C:\T\en.msi)", R"(C:\Test User\en.msi)", ""}) {
            const Result<std::string> line = installer_command_line(path, mode);
            ASSERT_TRUE(line.has_value());
            constexpr std::string_view tail = R"( WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")";
            EXPECT_TRUE(line->ends_with(tail)) << *line;
            EXPECT_EQ(line->find("WIXUI_"), line->size() - tail.size() + 1) << *line;
        }
    }
}

TEST(InstallerCommandLine, EmptyPathBecomesAnEmptyQuotedArgument) {
    const Result<std::string> line = installer_command_line("", InstallMode::Advanced);
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, R"("msiexec.exe" /i "" /norestart MIREL_SETUP_LAUNCH_OWNER=1 WIXUI_EXITDIALOGOPTIONALCHECKBOXTEXT="")");
}

TEST(InstallerCommandLine, NulInThePackagePathIsRefused) {
    const std::string path("C:\\T\\en.msi\0.exe", 16);
    for (const InstallMode mode : {InstallMode::Basic, InstallMode::Advanced, InstallMode::Quiet}) {
        const Result<std::string> line = installer_command_line(path, mode);
        ASSERT_FALSE(line.has_value());
        EXPECT_EQ(line.error().text(), "nul byte found in provided data");
    }
}

TEST(InstallerOutcome, ExitCodesMapToTheirOutcomes) {
    const struct {
        std::int32_t code;
        InstallerOutcome outcome;
    } cases[] = {
        {0, InstallerOutcome::Installed},
        {1641, InstallerOutcome::InstalledRestart},
        {3010, InstallerOutcome::InstalledRestart},
        {1602, InstallerOutcome::Cancelled},
        {1603, InstallerOutcome::Failed},
        {1, InstallerOutcome::Failed},
        {2, InstallerOutcome::Failed},
        {1618, InstallerOutcome::Failed},
        {3011, InstallerOutcome::Failed},
        {-1602, InstallerOutcome::Failed},
        {-1073741819, InstallerOutcome::Failed},  // 0xC0000005, an access violation
        {INT32_MIN, InstallerOutcome::Failed},
        {INT32_MAX, InstallerOutcome::Failed},
    };
    for (const auto& c : cases) EXPECT_EQ(installer_outcome(c.code), c.outcome) << c.code;
}

}  // namespace
}  // namespace mirel
