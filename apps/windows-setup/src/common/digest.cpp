#include "common/digest.hpp"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <limits>

#include "common/unique_any.hpp"
#include "common/win32.hpp"

namespace mirel {
namespace {

// bcrypt.dll is not imported: it is no KnownDLL, so an import could be satisfied from the
// program's own folder. Its functions come from the system directory, resolved once.
struct HashApi {
    decltype(&::BCryptOpenAlgorithmProvider) open_algorithm;
    decltype(&::BCryptCloseAlgorithmProvider) close_algorithm;
    decltype(&::BCryptCreateHash) create_hash;
    decltype(&::BCryptHashData) hash_data;
    decltype(&::BCryptFinishHash) finish_hash;
    decltype(&::BCryptDestroyHash) destroy_hash;
};

const HashApi* hash_api() {
    static const HashApi* const api = [] {
        static HashApi table{};
        const auto resolve = [](auto*& slot, const char* name) {
            return resolve_system_function(slot, L"bcrypt.dll", name);
        };
        const bool complete = resolve(table.open_algorithm, "BCryptOpenAlgorithmProvider") &&
                              resolve(table.close_algorithm, "BCryptCloseAlgorithmProvider") &&
                              resolve(table.create_hash, "BCryptCreateHash") &&
                              resolve(table.hash_data, "BCryptHashData") &&
                              resolve(table.finish_hash, "BCryptFinishHash") &&
                              resolve(table.destroy_hash, "BCryptDestroyHash");
        return complete ? &table : nullptr;
    }();
    return api;
}

struct AlgorithmTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept { hash_api()->close_algorithm(value, 0); }
};
struct HashTraits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer empty() noexcept { return nullptr; }
    static bool is_empty(pointer value) noexcept { return value == nullptr; }
    static void close(pointer value) noexcept { hash_api()->destroy_hash(value); }
};

}  // namespace

std::optional<Sha256> sha256(std::span<const std::byte> bytes) {
    const HashApi* api = hash_api();
    if (api == nullptr) return std::nullopt;
    UniqueAny<AlgorithmTraits> algorithm;
    if (!BCRYPT_SUCCESS(api->open_algorithm(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    UniqueAny<HashTraits> hash;
    if (!BCRYPT_SUCCESS(api->create_hash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) return std::nullopt;
    while (!bytes.empty()) {
        const auto size = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), std::numeric_limits<ULONG>::max()));
        // The API takes a writable pointer but only reads through it.
        if (!BCRYPT_SUCCESS(api->hash_data(hash.get(), reinterpret_cast<PUCHAR>(const_cast<std::byte*>(bytes.data())),
                                           size, 0)))
            return std::nullopt;
        bytes = bytes.subspan(size);
    }
    Sha256 digest{};
    if (!BCRYPT_SUCCESS(
            api->finish_hash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace mirel
