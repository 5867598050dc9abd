#pragma once

#include "common/ui_language.hpp"

namespace mirel {

// The language of the user's display language (GetUserDefaultUILanguage).
[[nodiscard]] UiLanguage system_ui_language();

}  // namespace mirel
