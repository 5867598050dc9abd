#include "options/run_language.hpp"

#include "texts/system_language.hpp"

namespace mirel {

UiLanguage run_language(const LaunchOptions& options) {
    if (options.forced_language) return *options.forced_language;
    // A machine's display language says little about its users' in an unattended deployment (the
    // system account's is the language Windows was installed in): the caller may name it.
    if (options.quiet && options.language) {
        if (const std::optional<UiLanguage> named = language_from_code(*options.language)) return *named;
    }
    return system_ui_language();
}

}  // namespace mirel
