#pragma once

#include <string_view>

namespace mirel {

// The product's shared table of texts, UTF-8 JSON, placed in the image at build time.
extern const std::string_view TRANSLATION_TABLE;

}  // namespace mirel
