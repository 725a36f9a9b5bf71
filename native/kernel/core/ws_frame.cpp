#include "kernel/core/ws_frame.hpp"

#include <cerrno>
#include <cstring>
#include <sys/random.h>
#include <system_error>

namespace zm::kernel::core {

namespace {

constexpr unsigned char FIN = 0x80;
constexpr unsigned char MASKED = 0x80;
constexpr std::size_t MAX_7BIT = 125;
constexpr std::size_t MAX_16BIT = 0xFFFF;
constexpr unsigned char LENGTH_16BIT = 126;
constexpr unsigned char LENGTH_64BIT = 127;
constexpr std::size_t KEY_POOL_BYTES = 4096;

std::size_t header_size(std::size_t payload) {
    const std::size_t length_bytes = payload <= MAX_7BIT ? 0 : payload <= MAX_16BIT ? 2 : 8;
    return 2 + length_bytes + 4;
}

void fill_random(unsigned char *out, std::size_t size) {
    while (size > 0) {
        const ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
}

} // namespace

std::size_t client_frame_size(std::size_t payload) { return header_size(payload) + payload; }

void write_client_frame(std::uint8_t opcode, const unsigned char *payload, std::size_t size,
                        std::array<unsigned char, 4> key, unsigned char *out) {
    *out++ = static_cast<unsigned char>(FIN | (opcode & 0x0F));
    if (size <= MAX_7BIT) {
        *out++ = static_cast<unsigned char>(MASKED | size);
    } else if (size <= MAX_16BIT) {
        *out++ = MASKED | LENGTH_16BIT;
        *out++ = static_cast<unsigned char>(size >> 8);
        *out++ = static_cast<unsigned char>(size);
    } else {
        *out++ = MASKED | LENGTH_64BIT;
        for (int shift = 56; shift >= 0; shift -= 8)
            *out++ = static_cast<unsigned char>(static_cast<std::uint64_t>(size) >> shift);
    }
    std::memcpy(out, key.data(), key.size());
    out += key.size();
    // Eight bytes at a time: the key repeats every four bytes, so a doubled key masks a word.
    std::uint64_t wide = 0;
    for (std::size_t i = 0; i < sizeof wide; ++i)
        reinterpret_cast<unsigned char *>(&wide)[i] = key[i % 4];
    std::size_t i = 0;
    for (; i + sizeof wide <= size; i += sizeof wide) {
        std::uint64_t word;
        std::memcpy(&word, payload + i, sizeof word);
        word ^= wide;
        std::memcpy(out + i, &word, sizeof word);
    }
    for (; i < size; ++i)
        out[i] = payload[i] ^ key[i % 4];
}

std::optional<FrameHead> read_frame_head(const unsigned char *data, std::size_t available) {
    if (available < 2)
        return std::nullopt;
    FrameHead head;
    head.fin = (data[0] & FIN) != 0;
    head.rsv = static_cast<std::uint8_t>((data[0] >> 4) & 0x07);
    head.opcode = static_cast<std::uint8_t>(data[0] & 0x0F);
    head.masked = (data[1] & MASKED) != 0;
    const unsigned char length = data[1] & 0x7F;
    std::size_t length_bytes = 0;
    if (length == LENGTH_16BIT)
        length_bytes = 2;
    else if (length == LENGTH_64BIT)
        length_bytes = 8;
    head.size = 2 + length_bytes + (head.masked ? 4 : 0);
    if (available < head.size)
        return std::nullopt;
    head.length = length_bytes == 0 ? length : 0;
    for (std::size_t i = 0; i < length_bytes; ++i)
        head.length = (head.length << 8) | data[2 + i];
    return head;
}

std::optional<FrameSplitter::Next> FrameSplitter::next(const unsigned char *data,
                                                       std::size_t available) {
    if (available == 0)
        return std::nullopt;
    if (passing_through_)
        return Next{Route::Rest, available, {}};
    const std::optional<FrameHead> head = read_frame_head(data, available);
    if (!head)
        return std::nullopt;
    const bool control = (head->opcode & 0x08) != 0;
    const bool well_formed =
        head->rsv == 0 && !head->masked && head->length <= max_size_ &&
        (control ? head->fin && head->length <= MAX_7BIT && head->opcode <= 0xA
                 : head->opcode <= WS_OPCODE_BINARY &&
                       (head->opcode == WS_OPCODE_CONTINUATION) == fragmented_);
    if (!well_formed) {
        // The library refuses it and fails the connection; nothing after it is ours to read.
        passing_through_ = true;
        return Next{Route::Rest, available, *head};
    }
    if (available - head->size < head->length)
        return std::nullopt;
    const std::size_t size = head->size + static_cast<std::size_t>(head->length);
    if (control) {
        if (head->opcode == WS_OPCODE_CLOSE)
            passing_through_ = true; // the closing handshake is the library's to the end
        return Next{Route::Library, size, *head};
    }
    if (head->opcode == WS_OPCODE_TEXT && head->fin)
        return Next{Route::Ours, size, *head};
    fragmented_ = !head->fin;
    return Next{head->fin ? Route::LibraryMessage : Route::Library, size, *head};
}

std::array<unsigned char, 4> next_mask_key() {
    thread_local std::array<unsigned char, KEY_POOL_BYTES> pool{};
    thread_local std::size_t used = KEY_POOL_BYTES;
    if (used == KEY_POOL_BYTES) {
        fill_random(pool.data(), pool.size());
        used = 0;
    }
    std::array<unsigned char, 4> key;
    std::memcpy(key.data(), pool.data() + used, key.size());
    used += key.size();
    return key;
}

} // namespace zm::kernel::core
