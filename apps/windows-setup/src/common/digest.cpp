#include "common/digest.hpp"

#include <algorithm>
#include <limits>

#include "common/os.hpp"
#include "common/unique_any.hpp"

namespace mirel {
namespace {

// bcrypt.dll is not imported: it is no KnownDLL, so an import could be satisfied from the
// program's own folder (common/os.hpp finds it in the system directory).
struct AlgorithmTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept { os::BCryptCloseAlgorithmProvider(value, 0); }
};
struct HashTraits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept { os::BCryptDestroyHash(value); }
};

}  // namespace

std::optional<Sha256> sha256(std::span<const std::byte> bytes) {
    UniqueAny<AlgorithmTraits> algorithm;
    if (!BCRYPT_SUCCESS(os::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    UniqueAny<HashTraits> hash;
    if (!BCRYPT_SUCCESS(os::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    while (!bytes.empty()) {
        const auto size = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), std::numeric_limits<ULONG>::max()));
        // The API takes a writable pointer but only reads through it.
        if (!BCRYPT_SUCCESS(os::BCryptHashData(
                hash.get(), reinterpret_cast<PUCHAR>(const_cast<std::byte*>(bytes.data())), size, 0)))
            return std::nullopt;
        bytes = bytes.subspan(size);
    }
    Sha256 digest{};
    if (!BCRYPT_SUCCESS(os::BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()),
                                             static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace mirel
