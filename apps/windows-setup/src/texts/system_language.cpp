#include "texts/system_language.hpp"

#include "common/os.hpp"
#include "texts/language_texts.hpp"

namespace mirel {

UiLanguage system_ui_language() {
    return ui_language_from_langid(os::GetUserDefaultUILanguage());
}

}  // namespace mirel
