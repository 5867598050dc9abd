#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>

namespace mirel {

// Fills a prefix of the buffer and says how much; nothing on failure.
using ChunkReader = std::function<std::optional<std::size_t>(std::span<std::byte> buffer)>;

enum class ReadBack { Same, Different, ReadFailed };

// Reads through `read` into `buffer`, one whole-buffer request at a time, until as many bytes as
// `expected` holds have come back, comparing each piece with `expected` at its offset. An early
// end (a read of 0 bytes), a read that would pass the end of `expected`, or a differing byte is
// Different; a failed read is ReadFailed.
[[nodiscard]] ReadBack compare_read_back(const ChunkReader& read, std::span<const std::byte> expected,
                                         std::span<std::byte> buffer);

}  // namespace mirel
