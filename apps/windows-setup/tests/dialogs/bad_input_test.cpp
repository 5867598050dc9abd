// Command lines that no caller should send still give an ordinary run: the dialog and exit code
// 0 on Cancel, or the validation of the sound embedded packages, never a crash.

#include <gtest/gtest.h>

#include "dialog_checks.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;
using wine_test::TempDir;

struct BadInput {
    const char* name;
    std::vector<std::wstring> arguments;
};

std::vector<BadInput> bad_inputs() {
    return {
        {"8000 arguments", std::vector<std::wstring>(8000, L"x")},
        {"one argument of 30000 characters", {std::wstring(30000, L'a')}},
        {"unpaired surrogates",
         {L"\xD800", L"a\xDC00" L"b", L"\xDBFF\xDBFF", L"--validate\xD800", L"--update\xDC00",
          L"--preview-language=t\xD800"}},
        {"empty and quoted arguments", {L"", L"\"", L"\\\\\"", L" \t "}},
    };
}

TEST(BadInput, APreviewRunStillShowsTheDialogAndEndsWithZeroOnCancel) {
    for (BadInput input : bad_inputs()) {
        SCOPED_TRACE(input.name);
        input.arguments.push_back(L"--preview-language=en");
        TempDir temp;
        auto setup = wine_test::start_setup(input.arguments, wine_test::temp_environment(temp.path()));
        ASSERT_TRUE(setup);
        // "--validate" followed by a lone surrogate is not "--validate": the dialog must come.
        HWND dialog = await_window(*setup, ENGLISH.title);
        ASSERT_NE(dialog, nullptr);
        expect_mode_dialog(dialog, ENGLISH);
        click_and_wait(dialog, CANCEL);
        expect_end_without_window(*setup, 0);
    }
}

// Other arguments beside an exact "--validate" are ignored, and the embedded packages are sound.
TEST(BadInput, AValidationRunEndsWithZeroSilentlyAndLeavesNothing) {
    for (BadInput input : bad_inputs()) {
        SCOPED_TRACE(input.name);
        input.arguments.push_back(L"--validate");
        TempDir temp;
        auto setup = wine_test::start_setup(input.arguments, wine_test::temp_environment(temp.path()), true);
        ASSERT_TRUE(setup);
        const td::ExitWatch end = td::wait_for_exit_without_window(*setup, wine_test::EXIT_TIMEOUT_MS);
        ASSERT_EQ(end.window, nullptr) << td::describe_window(end.window);
        EXPECT_EQ(end.exit_code, std::optional<std::uint32_t>(0));
        EXPECT_EQ(setup->standard_error(), "");
        EXPECT_TRUE(temp.entries().empty());
    }
}

}  // namespace
}  // namespace mirel::dialog_test
