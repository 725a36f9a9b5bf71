#include "common/uuid4.hpp"

#include <cerrno>
#include <stdexcept>
#include <sys/random.h>

namespace zm {

std::string uuid4_hex() {
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("no random source for a UUID");
        }
        got += static_cast<std::size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    static constexpr char HEX[] = "0123456789abcdef";
    std::string out(32, '0');
    for (std::size_t i = 0; i < sizeof bytes; ++i) {
        out[2 * i] = HEX[bytes[i] >> 4];
        out[2 * i + 1] = HEX[bytes[i] & 15];
    }
    return out;
}

} // namespace zm
