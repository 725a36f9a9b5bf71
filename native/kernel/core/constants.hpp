#pragma once
/// Sizes, intervals and defaults of the kernel core.

#include <cstddef>

namespace zm::kernel::core {

inline constexpr std::size_t MAX_MESSAGE_SIZE = 1048576;
inline constexpr std::size_t CHUNK_SIZE = 65536;
inline constexpr const char *CHUNK_HEADER_TYPE = "chunk";
inline constexpr double DEBUG_MESSAGE_SEND_TIMEOUT = 5.0;
inline constexpr int WORKER_POOL_SIZE = 10;
inline constexpr double FLUSH_INTERVAL = 0.01;
inline constexpr const char *DEFAULT_HOST = "127.0.0.1";
inline constexpr const char *DEFAULT_PORT = "8000";

/// Largest frame the connection admits. Every frame up to it reaches the size check, which
/// answers "Message too large" and drops it; only a larger one makes the library close the
/// connection (the close and its reason are logged). Far above MAX_MESSAGE_SIZE on purpose: a
/// peer that sends a few megabytes too many gets an answer, not a dead kernel.
inline constexpr std::size_t WEBSOCKET_MAX_FRAME_BYTES = 64 * 1024 * 1024;

/// Bounds on what a peer can make the kernel hold for incoming chunk series.
inline constexpr std::size_t MAX_CHUNK_SERIES_CHARS = 32 * 1024 * 1024;
inline constexpr std::size_t MAX_CHUNK_SERIES_CHUNKS = MAX_CHUNK_SERIES_CHARS / CHUNK_SIZE;
inline constexpr std::size_t MAX_OPEN_CHUNK_SERIES = 16;
/// All open series together.
inline constexpr std::size_t MAX_BUFFERED_CHUNK_CHARS = 64 * 1024 * 1024;
/// A full table makes room by dropping a series only when it has been idle this long.
inline constexpr double CHUNK_SERIES_IDLE_SECONDS = 30.0;
/// Ids of dropped series remembered, so that their later chunks are ignored quietly.
inline constexpr std::size_t REMEMBERED_DROPPED_SERIES = 256;

/// Send-path lock wait (milliseconds) above which a warning is logged.
inline constexpr double SOCKET_LOCK_WARN_MS = 5.0;

} // namespace zm::kernel::core
