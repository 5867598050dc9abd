#include "staging/payloads.hpp"

#include <algorithm>

#include "common/run_log.hpp"

// Both packages back to back in the image's read-only data, English first, behind their
// digests (payload_data.S, written by the build).
extern "C" const std::byte mirel_payload_digests[];
extern "C" const std::byte mirel_payload_data[];

namespace mirel {
namespace {

constexpr std::size_t DIGEST_SIZE = std::tuple_size_v<Sha256>;

}  // namespace

constinit const std::array<Payload, 2> PAYLOADS = {{
    {"en.msi", std::span<const std::byte, PAYLOAD_SIZE>(mirel_payload_data, PAYLOAD_SIZE),
     std::span<const std::byte, DIGEST_SIZE>(mirel_payload_digests, DIGEST_SIZE), UiLanguage::English},
    {"tr.msi", std::span<const std::byte, PAYLOAD_SIZE>(mirel_payload_data + PAYLOAD_SIZE, PAYLOAD_SIZE),
     std::span<const std::byte, DIGEST_SIZE>(mirel_payload_digests + DIGEST_SIZE, DIGEST_SIZE), UiLanguage::Turkish},
}};

const Payload& payload_for(UiLanguage language) {
    return PAYLOADS[language == UiLanguage::Turkish ? 1 : 0];
}

Status check_payload_digest(const Payload& payload) {
    static std::array<bool, PAYLOADS.size()> embedded_checked{};
    const auto embedded = std::ranges::find_if(PAYLOADS, [&](const Payload& p) { return &p == &payload; });
    const bool cacheable = embedded != PAYLOADS.end();
    const auto index = static_cast<std::size_t>(embedded - PAYLOADS.begin());
    if (cacheable && embedded_checked[index]) return {};

    const std::optional<Sha256> digest = sha256(payload.bytes);
    const bool same = digest && std::ranges::equal(*digest, payload.digest);
    log_event("package", {payload.file_name, digest ? ": SHA-256 " : ": the system could not compute its SHA-256",
                          digest ? LogPart::hex(*digest) : LogPart(""),
                          !digest ? ""
                          : same  ? ", as the build recorded"
                                  : ", but the build recorded ",
                          digest && !same ? LogPart::hex(payload.digest) : LogPart("")});
    if (!same) return fail(ErrorCode::InstallerPayloadChanged);
    if (cacheable) embedded_checked[index] = true;
    return {};
}

Result<std::string> stage_payload(StagingDirectory& staging, const Payload& payload) {
    RETURN_IF_ERROR(check_payload_digest(payload));
    return write_payload(staging, payload.file_name, payload.bytes);
}

}  // namespace mirel
