// How a failed run reports: the failure box in the display language, or one line on standard
// error in a validation run. A temporary directory that does not exist is the failure that
// every run can be driven into without installing anything.

#include <gtest/gtest.h>

#include <algorithm>

#include "dialog_checks.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;
using wine_test::TempDir;

// The operating system's text for "path not found" differs between Windows and Wine; its
// number does not.
constexpr std::wstring_view PATH_NOT_FOUND_END = L" (os error 3)";

struct ValidationResult {
    std::uint32_t exit_code = 0;
    std::string standard_error;
};

ValidationResult run_validation(std::vector<std::wstring> arguments, const wine_test::Environment& environment,
                                const std::wstring& program = {}) {
    auto setup = wine_test::start_setup(std::move(arguments), environment, true, program);
    if (!setup) return {};
    const td::ExitWatch end = td::wait_for_exit_without_window(*setup, wine_test::EXIT_TIMEOUT_MS);
    if (end.window != nullptr) ADD_FAILURE() << "a validation run showed " << td::describe_window(end.window);
    if (!end.exit_code) {
        ADD_FAILURE() << "the validation run did not end";
        return {};
    }
    return {*end.exit_code, setup->standard_error()};
}

// The box after Return in the mode dialog of a run whose temporary directory is missing.
std::wstring failure_detail_after_basic(const TempDir& temp) {
    auto setup = wine_test::start_setup({}, missing_temp(temp));
    if (!setup) return {};
    HWND dialog = await_window(*setup, ENGLISH.title);
    if (dialog == nullptr) return {};
    press_and_wait(dialog, td::Key::Return);
    return expect_failure_after_dialog(*setup, ENGLISH);
}

TEST(FailureBox, ShowsTheHeadingTwoLineFeedsAndTheDetailThenEndsWithOne) {
    TempDir temp;
    const std::wstring detail = failure_detail_after_basic(temp);
    EXPECT_FALSE(detail.empty());
    EXPECT_EQ(detail.find(L"\n\n"), std::wstring::npos) << "the heading is shown once";
    EXPECT_TRUE(temp.entries().empty());
}

// Needs the staging directory creation (and the package inspection, which stages first).
TEST(FailureBox, AMissingTemporaryDirectoryIsReportedWithTheSystemText) {
    TempDir temp;
    const std::wstring detail = failure_detail_after_basic(temp);
    EXPECT_TRUE(ends_with(detail, PATH_NOT_FOUND_END)) << td::escape(detail);
    EXPECT_GT(detail.size(), PATH_NOT_FOUND_END.size()) << "the system's message comes first";
}

TEST(ValidationRun, AFailureIsOneLineOnStandardErrorWithoutABox) {
    TempDir temp;
    const auto environment = missing_temp(temp);
    // Other options have no effect on a validation run, wherever "--validate" stands.
    for (const auto& arguments : std::vector<std::vector<std::wstring>>{
             {L"--validate"},
             {L"--update", L"--preview-language=tr", L"--validate"},
         }) {
        SCOPED_TRACE(td::narrow(arguments.front()));
        const ValidationResult result = run_validation(arguments, environment);
        EXPECT_EQ(result.exit_code, 1u);
        ASSERT_FALSE(result.standard_error.empty());
        EXPECT_EQ(std::count(result.standard_error.begin(), result.standard_error.end(), '\n'), 1);
        EXPECT_EQ(result.standard_error.back(), '\n');
        EXPECT_EQ(result.standard_error.find('\r'), std::string::npos);
    }
}

// Needs the staging directory creation (and the package inspection, which stages first).
TEST(ValidationRun, AMissingTemporaryDirectoryIsTheSystemTextOnStandardError) {
    TempDir temp;
    const ValidationResult result = run_validation({L"--validate"}, missing_temp(temp));
    EXPECT_EQ(result.exit_code, 1u);
    const std::string expected_end = td::narrow(PATH_NOT_FOUND_END) + "\n";
    EXPECT_TRUE(result.standard_error.size() > expected_end.size() &&
                result.standard_error.ends_with(expected_end))
        << result.standard_error;
}

// An image without its icon fails before any window: the preview run reports in the display
// language (English here), not in the preview language.
TEST(FailureBox, APreviewRunInTurkishReportsInTheDisplayLanguage) {
    TempDir temp;
    auto setup = wine_test::start_setup({L"--preview-language=tr"}, wine_test::temp_environment(temp.path()), false,
                                         wine_test::built_program(L"mirel-setup-without-icon.exe"));
    ASSERT_TRUE(setup);
    HWND first = td::wait_for_any_window(setup->id(), wine_test::WINDOW_TIMEOUT_MS);
    ASSERT_NE(first, nullptr) << "no window at all";
    ASSERT_EQ(td::narrow(td::window_text(first)), td::narrow(ENGLISH.title)) << td::describe_window(first);
    EXPECT_EQ(td::narrow(expect_failure_box(first, ENGLISH)), "setup_icon");
    click_and_wait(first, IDOK);
    expect_end_without_window(*setup, 1);
}

// Needs the package inspection, whose first step loads the icon.
TEST(ValidationRun, AnImageWithoutItsIconFailsWithSetupIcon) {
    TempDir temp;
    const ValidationResult result = run_validation({L"--validate"}, wine_test::temp_environment(temp.path()),
                                                   wine_test::built_program(L"mirel-setup-without-icon.exe"));
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_EQ(result.standard_error, "setup_icon\n");
    EXPECT_TRUE(temp.entries().empty());
}

}  // namespace
}  // namespace mirel::dialog_test
