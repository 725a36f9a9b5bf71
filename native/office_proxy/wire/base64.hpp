#pragma once
/// Standard Base64 (RFC 4648 alphabet, '=' padding, no line breaks).

#include <cstddef>
#include <string>

namespace zm::office_proxy::wire {

/// Length of the Base64 text for `size` bytes.
constexpr std::size_t base64_length(std::size_t size) { return (size + 2) / 3 * 4; }

/// Writes the Base64 text of `data[0..size)` into `out`, which holds base64_length(size) chars.
void base64_encode(const unsigned char *data, std::size_t size, char *out);

} // namespace zm::office_proxy::wire
