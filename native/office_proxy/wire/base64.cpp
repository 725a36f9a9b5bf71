#include "office_proxy/wire/base64.hpp"

namespace zm::office_proxy::wire {

namespace {
constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

void base64_encode(const unsigned char *data, std::size_t size, char *out) {
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned v = (unsigned(data[i]) << 16) | (unsigned(data[i + 1]) << 8) | data[i + 2];
        *out++ = ALPHABET[(v >> 18) & 63];
        *out++ = ALPHABET[(v >> 12) & 63];
        *out++ = ALPHABET[(v >> 6) & 63];
        *out++ = ALPHABET[v & 63];
    }
    const std::size_t rest = size - i;
    if (rest == 0)
        return;
    unsigned v = unsigned(data[i]) << 16;
    if (rest == 2)
        v |= unsigned(data[i + 1]) << 8;
    *out++ = ALPHABET[(v >> 18) & 63];
    *out++ = ALPHABET[(v >> 12) & 63];
    *out++ = rest == 2 ? ALPHABET[(v >> 6) & 63] : '=';
    *out++ = '=';
}

} // namespace zm::office_proxy::wire
