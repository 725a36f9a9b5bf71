#pragma once
/// Constants and the fixed texts (messages, log lines, errors) of the kernel core, in one place.

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

namespace text {
// Messages sent to the Business Layer.
inline constexpr const char *MESSAGE_TOO_LARGE = "Message too large";
inline constexpr const char *INVALID_JSON = "Invalid JSON received";
inline constexpr const char *NOT_AN_OBJECT = "Invalid message: expected a JSON object";

// Lifecycle.
inline constexpr const char *LOADER_REGISTERED =
    "[Kernel] Registered InMemoryModuleLoader in sys.meta_path";
inline constexpr const char *KERNEL_CONNECTED = "Kernel connected for workbook: ";
inline constexpr const char *KERNEL_ERROR = "Kernel error: ";
inline constexpr const char *KERNEL_DISCONNECTED = "Kernel disconnected for workbook: ";
inline constexpr const char *MESSAGE_TOO_LARGE_LOG = "Message too large: ";
inline constexpr const char *BYTES = " bytes";
inline constexpr const char *NOT_AN_OBJECT_LOG = "[Kernel] Dropped message that is not a JSON object: ";
inline constexpr const char *MESSAGE_FAILED = "[Kernel] Failed to handle message type ";
inline constexpr const char *COLON_PART = ": ";
inline constexpr const char *CONNECTION_CLOSED = "[Kernel] Connection closed: ";

// Send path.
inline constexpr const char *ACQUIRING_LOCK = "[TIMING] Acquiring socket lock for: type=";
inline constexpr const char *REQUEST_ID_PART = ", request_id=";
inline constexpr const char *LOCK_WAITED = "[TIMING] Socket lock waited ";
inline constexpr const char *MS_FOR_TYPE = "ms for: type=";
inline constexpr const char *MESSAGE_SENT = "[TIMING] Message sent: type=";
inline constexpr const char *CANNOT_SEND = "[Kernel] Cannot send message type '";
inline constexpr const char *NOT_CONNECTED = "': WebSocket not connected";
inline constexpr const char *NO_SOCKET_LOCK = "': Socket lock not initialized";
inline constexpr const char *CHUNKING = "[Kernel] Chunking large message: type=";
inline constexpr const char *SIZE_PART = ", size=";
inline constexpr const char *CHUNKS_PART = ", chunks=";
inline constexpr const char *SENT_PREFIX = "[Kernel] Sent ";
inline constexpr const char *CHUNKS_FOR_TYPE = " chunks for message: type=";
inline constexpr const char *CHUNK_ID_PART = ", chunk_id=";
inline constexpr const char *SEND_FAILED = "[Kernel] Could not send message type '";
inline constexpr const char *SEND_FAILED_ID = "' (request_id=";
inline constexpr const char *SEND_FAILED_DROPPED = "), dropped: ";
inline constexpr const char *KERNEL_PREFIX = "[Kernel] ";
inline constexpr const char *STREAMING_ERROR = " streaming error: ";

// Chunk reassembly.
inline constexpr const char *CHUNK_MISSING_FIELDS =
    "[Kernel] Invalid chunk message: missing required fields";
inline constexpr const char *CHUNK_ID_NOT_TEXT = "[Kernel] Invalid chunk message: chunk_id must be text";
inline constexpr const char *CHUNK_NOT_INTEGERS =
    "[Kernel] Invalid chunk message: chunk_index and total_chunks must be integers";
inline constexpr const char *INVALID_CHUNK_INDEX = "[Kernel] Invalid chunk_index ";
inline constexpr const char *FOR_TOTAL_CHUNKS = " for total_chunks ";
inline constexpr const char *INCOMPLETE_BUFFER = "[Kernel] Incomplete chunk buffer for chunk_id ";
inline constexpr const char *REASSEMBLY_PARSE_FAILED =
    "[Kernel] Failed to parse reassembled message: ";
inline constexpr const char *NESTED_CHUNK = "[Kernel] Nested chunk message detected for chunk_id ";
inline constexpr const char *REJECTING = ", rejecting";
inline constexpr const char *CHUNK_SERIES_TOO_LONG = "[Kernel] Chunk series too long: total_chunks ";
inline constexpr const char *EXCEEDS_LIMIT_OF = " exceeds the limit of ";
inline constexpr const char *CHUNK_SERIES_TOO_LARGE = "[Kernel] Chunk series too large for chunk_id ";
inline constexpr const char *CHARS_LIMIT = " characters, dropping it";
inline constexpr const char *CHUNK_TOTAL_MISMATCH = "[Kernel] Chunk total_chunks ";
inline constexpr const char *DIFFERS_FROM_SERIES = " differs from the series' ";
inline constexpr const char *FOR_CHUNK_ID = " for chunk_id ";
inline constexpr const char *DROPPING_SERIES = ", dropping the series";
inline constexpr const char *CHUNK_DATA_NOT_TEXT = "[Kernel] Chunk data must be text or null for chunk_id ";
inline constexpr const char *GOT_PART = " (got ";
inline constexpr const char *DROPPED_SERIES_PART = "), dropping the series";
inline constexpr const char *TOO_MANY_SERIES = "[Kernel] Too many open chunk series (";
inline constexpr const char *REFUSING_SERIES = "), refusing the new chunk_id ";
inline constexpr const char *DROPPING_IDLE = "), dropping the idle chunk_id ";
inline constexpr const char *CHUNK_BUFFERS_FULL = "[Kernel] Open chunk series would hold more than ";
inline constexpr const char *CHARS_DROPPING = " characters, dropping chunk_id ";
inline constexpr const char *CHUNK_OF_DROPPED_SERIES = "[Kernel] Ignored chunk of dropped chunk_id ";
inline constexpr const char *SERIES_DROPPED = "Chunk series of ";
inline constexpr const char *SERIES_DROPPED_ID = " (request_id ";
inline constexpr const char *SERIES_DROPPED_REASON = ") dropped: ";
inline constexpr const char *REASSEMBLED_NOT_OBJECT =
    "[Kernel] Reassembled message is not a JSON object for chunk_id ";
inline constexpr const char *DROPPING_IT = ", dropping it";

// Batcher.
inline constexpr const char *BATCH_TYPE = "batch";
inline constexpr const char *BATCHER_FLUSH_FAILED = "[Kernel] Batcher flush failed: ";

// Dispatch.
inline constexpr const char *MESSAGE_RECEIVED = "[TIMING] Message received: type=";
inline constexpr const char *RECEIVED_TYPE = "[Kernel] [Listener Thread] Received message type: ";
} // namespace text

} // namespace zm::kernel::core
