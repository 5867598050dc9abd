#include "common/read_back.hpp"

#include <algorithm>

namespace mirel {

ReadBack compare_read_back(const ChunkReader& read, std::span<const std::byte> expected, std::span<std::byte> buffer) {
    std::size_t done = 0;
    while (done < expected.size()) {
        const std::optional<std::size_t> count = read(buffer);
        if (!count) return ReadBack::ReadFailed;
        if (*count == 0 || *count > buffer.size() || *count > expected.size() - done) return ReadBack::Different;
        if (!std::ranges::equal(buffer.first(*count), expected.subspan(done, *count))) return ReadBack::Different;
        done += *count;
    }
    return ReadBack::Same;
}

}  // namespace mirel
