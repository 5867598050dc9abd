// Parent process ids: a value comes back exactly when the text is an optional "+" and 1 or more
// ASCII digits worth at most 4294967295, and then it is that number.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/parent_pid.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto value = mirel::parse_parent_pid(text);

    std::string_view digits = text;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    bool well_formed = !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
    std::string significant(digits.substr(std::min(digits.find_first_not_of('0'), digits.size())));
    if (significant.empty() && well_formed) significant = "0";
    // Compare as decimal text: longer, or as long and greater, than the largest id.
    const std::string largest = "4294967295";
    if (significant.size() > largest.size() || (significant.size() == largest.size() && significant > largest)) {
        well_formed = false;
    }
    if (well_formed != value.has_value()) std::abort();
    if (value && std::to_string(*value) != significant) std::abort();
    return 0;
}
