#include "staging/payloads.hpp"

// Both packages back to back in the image's read-only data, English first (payload_data.S).
extern "C" const std::byte mirel_payload_data[];

namespace mirel {

constinit const std::array<Payload, 2> PAYLOADS = {{
    {"en.msi", std::span<const std::byte, PAYLOAD_SIZE>(mirel_payload_data, PAYLOAD_SIZE), UiLanguage::English},
    {"tr.msi", std::span<const std::byte, PAYLOAD_SIZE>(mirel_payload_data + PAYLOAD_SIZE, PAYLOAD_SIZE),
     UiLanguage::Turkish},
}};

const Payload& payload_for(UiLanguage language) {
    return PAYLOADS[language == UiLanguage::Turkish ? 1 : 0];
}

}  // namespace mirel
