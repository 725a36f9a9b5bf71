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

/// Largest frame the connection admits: any text of MAX_MESSAGE_SIZE characters in UTF-8 (at
/// most 4 bytes each) plus room for the frame itself, so the size check below answers instead of
/// the library closing the connection.
inline constexpr std::size_t WEBSOCKET_MAX_FRAME_BYTES = 4 * MAX_MESSAGE_SIZE + 65536;

/// Bounds on what a peer can make the kernel hold for incoming chunk series.
inline constexpr std::size_t MAX_CHUNK_SERIES_CHARS = 32 * 1024 * 1024;
inline constexpr std::size_t MAX_CHUNK_SERIES_CHUNKS = MAX_CHUNK_SERIES_CHARS / CHUNK_SIZE;
inline constexpr std::size_t MAX_OPEN_CHUNK_SERIES = 8;

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
inline constexpr const char *DROPPING_OLDEST = "), dropping the oldest: chunk_id ";
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
