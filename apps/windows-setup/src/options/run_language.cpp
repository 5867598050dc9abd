#include "options/run_language.hpp"

#include "texts/system_language.hpp"

namespace mirel {

UiLanguage run_language(const LaunchOptions& options) {
    return options.forced_language ? *options.forced_language : system_ui_language();
}

}  // namespace mirel
