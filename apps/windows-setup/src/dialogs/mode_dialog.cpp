#include "common/win32.hpp"

#include <array>
#include <string>

#include "dialogs/dialogs.hpp"

namespace mirel {

Result<ModeChoice> choose_install_mode(const LanguageTexts& texts) {
    const auto text = [&](TextKey key) { return std::string(localized_text(texts, key)); };
    const std::wstring title = to_wide(text(TextKey::title));
    const std::wstring instruction = to_wide(text(TextKey::chooseMode));
    const std::wstring content = to_wide(text(TextKey::modeDescription));
    const std::wstring basic = to_wide(text(TextKey::basic) + "\n" + text(TextKey::basicDescription));
    const std::wstring advanced = to_wide(text(TextKey::advanced) + "\n" + text(TextKey::advancedDescription));
    const std::wstring cancel = to_wide(text(TextKey::cancel));

    HMODULE module = os::GetModuleHandleW(nullptr);
    if (module == nullptr) return fail(ErrorCode::SetupIcon);
    ASSIGN_OR_RETURN(HICON icon, load_setup_icon());

    // comctl32 is not imported: it comes from the system directory at run time, in version 6
    // through the manifest's activation context.

    const std::array<TASKDIALOG_BUTTON, 3> buttons = {{
        {BASIC_BUTTON_ID, basic.c_str()},
        {ADVANCED_BUTTON_ID, advanced.c_str()},
        {IDCANCEL, cancel.c_str()},
    }};
    TASKDIALOGCONFIG config{};
    static_assert(sizeof(config) == 160);
    config.cbSize = sizeof(config);
    config.hInstance = module;
    config.dwFlags = TDF_USE_HICON_MAIN | TDF_ALLOW_DIALOG_CANCELLATION | TDF_USE_COMMAND_LINKS;
    config.pszWindowTitle = title.c_str();
    config.hMainIcon = icon;
    config.pszMainInstruction = instruction.c_str();
    config.pszContent = content.c_str();
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.data();
    config.nDefaultButton = BASIC_BUTTON_ID;

    int pressed = 0;
    const HRESULT result = os::TaskDialogIndirect(&config, &pressed, nullptr, nullptr);
    if (FAILED(result)) return fail(SetupError::from_text(hresult_text(result)));
    switch (pressed) {
        case BASIC_BUTTON_ID: return ModeChoice::Basic;
        case ADVANCED_BUTTON_ID: return ModeChoice::Advanced;
        default: return ModeChoice::Cancelled;
    }
}

}  // namespace mirel
