// The installation mode dialog on an English system, worked from outside like a user would, and
// what follows each answer.

#include <gtest/gtest.h>

#include "dialog_checks.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;

TEST(ModeDialog, EachAnswerOnAnEnglishSystem) {
    const DialogRun runs[] = {
        {"the Cancel link", {}, &ENGLISH, CANCEL},
        // Every way of cancelling ends the run at once, with nothing written (nothing inspected).
        {"Escape", {}, &ENGLISH, td::Key::Escape},
        {"Alt+F4", {}, &ENGLISH, td::Key::AltF4},
        // Past the dialog the run fails at its first step on disk, with the system's text for "path not
        // found" (its wording differs between Windows and Wine, its number does not). The box proves that
        // the answer did not cancel.
        {"Return", {}, &ENGLISH, td::Key::Return, &ENGLISH, ".+ \\(os error 3\\)", true},
        {"the Advanced link", {}, &ENGLISH, ADVANCED, &ENGLISH, ".+ \\(os error 3\\)", true},
    };
    for (const DialogRun& run : runs) expect_run(run);
}

TEST(PreviewRun, ShowsTheDialogInThePreviewLanguageAndEndsWithZeroWhateverTheAnswer) {
    const DialogRun runs[] = {
        {"Turkish, Basic", {L"--preview-language=tr"}, &TURKISH, BASIC},
        {"Turkish, Advanced", {L"--preview-language=tr"}, &TURKISH, ADVANCED},
        {"Turkish, Cancel", {L"--preview-language=tr"}, &TURKISH, CANCEL},
        {"English, Return", {L"--preview-language=en"}, &ENGLISH, td::Key::Return, nullptr, "", true},
        // The first value counts, and one in capitals is no language: the system's stays.
        {"unknown value", {L"--preview-language=TR", L"--preview-language=tr"}, &ENGLISH, BASIC},
        // An update run shows nothing at all.
        {"update, English", {L"--update", L"--preview-language=en"}, nullptr},
        {"update, Turkish", {L"--update", L"--preview-language=tr"}, nullptr},
        // An image without its icon fails before any window, in the display language.
        {"no icon",
         {L"--preview-language=tr"},
         nullptr,
         CANCEL,
         &ENGLISH,
         "setup_icon",
         false,
         L"mirel-setup-without-icon.exe"},
    };
    for (const DialogRun& run : runs) expect_run(run);
}

}  // namespace
}  // namespace mirel::dialog_test
