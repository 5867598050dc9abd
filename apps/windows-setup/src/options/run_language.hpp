#pragma once

#include "common/ui_language.hpp"
#include "options/launch_options.hpp"

namespace mirel {

// The run's language: the preview language when one was named; in a quiet run, the language of a
// valid "--language="; else the display language.
[[nodiscard]] UiLanguage run_language(const LaunchOptions& options);

}  // namespace mirel
