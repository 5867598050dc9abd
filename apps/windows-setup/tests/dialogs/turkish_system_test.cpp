// The dialogs on a system whose display language is Turkish.

#include <gtest/gtest.h>

#include "dialog_checks.hpp"

namespace mirel::dialog_test {
namespace {

namespace td = test_driver;

TEST(TurkishSystem, DialogsSpeakTheDisplayLanguageOrThePreviewLanguage) {
    const DialogRun runs[] = {
        {"no arguments", {}, &TURKISH, td::Key::Escape},
        {"English preview", {L"--preview-language=en"}, &ENGLISH, ADVANCED},
        {"failure box", {}, &TURKISH, td::Key::Return, &TURKISH, ".+ \\(os error 3\\)", true},
        // An image without its icon, previewed in English, reports in Turkish.
        {"no icon",
         {L"--preview-language=en"},
         nullptr,
         CANCEL,
         &TURKISH,
         "setup_icon",
         false,
         L"mirel-setup-without-icon.exe"},
    };
    for (const DialogRun& run : runs) expect_run(run);
}

}  // namespace
}  // namespace mirel::dialog_test
