#pragma once
/// WebSocket frames (RFC 6455, section 5.2) as the kernel's client end writes and reads them.
///
/// Written: one whole message per frame (FIN set), the payload masked with a key from a strong
/// random source, as a client must. `send_path` writes them straight to the connection's
/// transport while the connection is open and idle, instead of going through the library's send
/// for every message.
///
/// Read: `FrameSplitter` routes each whole frame from the server. A whole unfragmented text
/// message is the kernel's to decode; everything else (control frames, fragmented and binary
/// messages, and whatever the library would refuse, with all that follows it) is the library's,
/// which keeps the connection's close handshake, keepalive and error handling.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zm::kernel::core {

inline constexpr std::uint8_t WS_OPCODE_CONTINUATION = 0x0;
inline constexpr std::uint8_t WS_OPCODE_TEXT = 0x1;
inline constexpr std::uint8_t WS_OPCODE_BINARY = 0x2;
inline constexpr std::uint8_t WS_OPCODE_CLOSE = 0x8;

/// Bytes of a masked client frame carrying `payload` bytes.
std::size_t client_frame_size(std::size_t payload);

/// Writes a final frame of `opcode` carrying `payload` masked with `key` into `out`, which holds
/// `client_frame_size(size)` bytes.
void write_client_frame(std::uint8_t opcode, const unsigned char *payload, std::size_t size,
                        std::array<unsigned char, 4> key, unsigned char *out);

/// The next mask key: the calling thread's share of the kernel's random source, read 4 KB at a
/// time (one system call per thousand frames instead of one each).
std::array<unsigned char, 4> next_mask_key();

/// The head of a frame as the peer sent it.
struct FrameHead {
    bool fin = false;
    std::uint8_t rsv = 0; ///< the three reserved bits
    std::uint8_t opcode = 0;
    bool masked = false;
    std::uint64_t length = 0; ///< payload bytes
    std::size_t size = 0;     ///< bytes of the head itself (mask key included)
};

/// The head of the frame at the start of `data`, or nothing while not all its bytes are here.
std::optional<FrameHead> read_frame_head(const unsigned char *data, std::size_t available);

/// Where each frame from the server goes, frame by frame, keeping the state the routing needs.
class FrameSplitter {
public:
    enum class Route {
        Ours,           ///< a whole unfragmented text message: the payload is ours to decode
        Library,        ///< the library's, and no message comes of it yet
        LibraryMessage, ///< the library's, and it ends a message the library now holds
        Rest,           ///< this frame and everything after it are the library's
    };
    struct Next {
        Route route;
        std::size_t size; ///< bytes of the whole frame (for `Rest`: all that is available)
        FrameHead head;
    };

    explicit FrameSplitter(std::uint64_t max_size) : max_size_(max_size) {}

    /// Routes the frame at the start of `data`, or nothing while not all of it is here.
    std::optional<Next> next(const unsigned char *data, std::size_t available);
    /// Hands everything from now on to the library (a frame the kernel could not take).
    void pass_through() { passing_through_ = true; }
    bool passing_through() const { return passing_through_; }

private:
    std::uint64_t max_size_;
    bool fragmented_ = false;
    bool passing_through_ = false;
};

} // namespace zm::kernel::core
