// Text lookup with any JSON in place of the table: never crashes, and gives either the key or a
// string member of the language object.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "texts/language_texts.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    for (const mirel::UiLanguage language : {mirel::UiLanguage::English, mirel::UiLanguage::Turkish}) {
        const auto texts = mirel::parse_language_texts(table, language);
        if (!texts) continue;
        for (const char* key : {"title", "failed", "", "msiLaunchApp"}) {
            const std::string_view text = mirel::localized_text(*texts, key);
            const auto& value = texts->value();
            const bool from_table = value.is_object() && value.contains(key) && value[key].is_string();
            if (from_table ? text != value[key].get_ref<const std::string&>() : text != key) std::abort();
        }
    }
    return 0;
}
