#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "common/digest.hpp"
#include "common/setup_error.hpp"
#include "common/ui_language.hpp"
#include "staging/staging.hpp"

namespace mirel {

inline constexpr std::size_t PAYLOAD_SIZE = 14'065'664;

// One embedded installer package: a read-only view into the program image, never copied, and
// the SHA-256 digest that the build recorded beside it.
struct Payload {
    std::string_view file_name;
    std::span<const std::byte, PAYLOAD_SIZE> bytes;
    std::span<const std::byte, std::tuple_size_v<Sha256>> digest;
    UiLanguage language;
};

// English first, then Turkish; the index of a language is its place here.
extern const std::array<Payload, 2> PAYLOADS;

[[nodiscard]] const Payload& payload_for(UiLanguage language);

// The payload's bytes hash to the digest the build recorded; ErrorCode::InstallerPayloadChanged
// otherwise (a damaged download or copy of the program). An embedded payload is hashed once per
// run: the image it lies in cannot change while the program runs.
[[nodiscard]] Status check_payload_digest(const Payload& payload);

// The payload written into the staging directory under its own name, after its digest check;
// nothing is written when the check fails. Returns the file's full path (see write_payload).
[[nodiscard]] Result<std::string> stage_payload(StagingDirectory& staging, const Payload& payload);

}  // namespace mirel
