#pragma once
/// WebSocket frames as the kernel's client end writes them (RFC 6455, section 5.2): one whole
/// message per frame (FIN set), the payload masked with a key from a strong random source, as a
/// client must. `send_path` writes them straight to the connection's transport while the
/// connection is open and idle, instead of going through the library's send for every message.

#include <array>
#include <cstddef>
#include <cstdint>

namespace zm::kernel::core {

inline constexpr std::uint8_t WS_OPCODE_TEXT = 0x1;

/// Bytes of a masked client frame carrying `payload` bytes.
std::size_t client_frame_size(std::size_t payload);

/// Writes a final frame of `opcode` carrying `payload` masked with `key` into `out`, which holds
/// `client_frame_size(size)` bytes.
void write_client_frame(std::uint8_t opcode, const unsigned char *payload, std::size_t size,
                        std::array<unsigned char, 4> key, unsigned char *out);

/// The next mask key: the calling thread's share of the kernel's random source, read 4 KB at a
/// time (one system call per thousand frames instead of one each).
std::array<unsigned char, 4> next_mask_key();

} // namespace zm::kernel::core
