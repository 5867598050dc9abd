// Text lookup with any JSON in place of the table: never crashes, and gives for every key either
// its name or a string of the language object.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "texts/language_texts.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    for (const mirel::UiLanguage language : {mirel::UiLanguage::English, mirel::UiLanguage::Turkish}) {
        const auto texts = mirel::parse_language_texts(table, language);
        if (!texts) continue;
        // The same input parsed independently tells what each lookup must give.
        const auto parsed = nlohmann::json::parse(table.begin(), table.end(), nullptr, false);
        if (parsed.is_discarded()) std::abort();
        const std::string code(mirel::language_code(language));
        const bool has_language = parsed.is_object() && parsed.contains(code) && parsed[code].is_object();
        for (std::size_t i = 0; i < mirel::TEXT_KEY_COUNT; ++i) {
            const auto key = static_cast<mirel::TextKey>(i);
            const std::string name(mirel::TEXT_KEY_NAMES[i]);
            const std::string_view text = mirel::localized_text(*texts, key);
            const bool from_table = has_language && parsed[code].contains(name) && parsed[code][name].is_string();
            if (from_table ? text != parsed[code][name].get_ref<const std::string&>() : text != name) std::abort();
        }
    }
    return 0;
}
