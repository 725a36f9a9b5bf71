#include "kernel/core/chunk_plan.hpp"

#include <algorithm>

namespace zm::kernel::core {

std::size_t chunk_count(std::size_t length, std::size_t chunk_size) {
    return (length + chunk_size - 1) / chunk_size;
}

ChunkSpan chunk_span(std::size_t index, std::size_t length, std::size_t chunk_size) {
    const std::size_t begin = std::min(index * chunk_size, length);
    return {begin, std::min(begin + chunk_size, length)};
}

ChunkVerdict check_chunk(std::int64_t index, std::int64_t total, std::int64_t series_total,
                         std::size_t max_chunks) {
    if (index < 0 || index >= total)
        return ChunkVerdict::IndexOutOfRange;
    if (static_cast<std::uint64_t>(total) > max_chunks)
        return ChunkVerdict::TooManyChunks;
    // A later chunk must agree with the series it joins, so it can never address a slot outside
    // the buffer the first chunk sized.
    if (series_total >= 0 && total != series_total)
        return ChunkVerdict::TotalMismatch;
    return ChunkVerdict::Accept;
}

bool fits_series(std::size_t held, std::size_t incoming, std::size_t limit) {
    return incoming <= limit && held <= limit - incoming;
}

} // namespace zm::kernel::core
