#include "texts/system_language.hpp"

#include <windows.h>

#include "texts/language_texts.hpp"

namespace mirel {

UiLanguage system_ui_language() { return ui_language_from_langid(::GetUserDefaultUILanguage()); }

}  // namespace mirel
