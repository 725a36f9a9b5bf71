#pragma once
/// Chunk arithmetic and the bounds on incoming chunk series; no Python here.

#include <cstddef>
#include <cstdint>

namespace zm::kernel::core {

/// Character range [begin, end) of one chunk of a text.
struct ChunkSpan {
    std::size_t begin;
    std::size_t end;
};

/// Number of chunks a text of `length` characters is split into (ceiling division).
std::size_t chunk_count(std::size_t length, std::size_t chunk_size);

/// The characters chunk `index` carries of a text of `length` characters.
ChunkSpan chunk_span(std::size_t index, std::size_t length, std::size_t chunk_size);

/// Verdict on the position fields of an incoming chunk.
enum class ChunkVerdict {
    Accept,
    IndexOutOfRange, ///< index < 0 or index >= total: the chunk is dropped
    TooManyChunks,   ///< total describes more than the reassembly limit: the chunk is dropped
    TotalMismatch,   ///< total differs from the series' own: the series is dropped
};

/// Checks `index` and `total` of a chunk against its series (`series_total` < 0: no series yet).
ChunkVerdict check_chunk(std::int64_t index, std::int64_t total, std::int64_t series_total,
                         std::size_t max_chunks);

/// True when adding `incoming` characters to a series holding `held` stays within `limit`.
bool fits_series(std::size_t held, std::size_t incoming, std::size_t limit);

} // namespace zm::kernel::core
