#include "kernel/channel/response_scan.hpp"

#include <array>
#include <cstddef>

namespace zm::kernel::channel {

namespace {

/// One of the two outer containers: whether it is an object, the key whose value comes next,
/// and the key under which the container itself sits in its parent.
struct Level {
    bool object = false;
    bool expecting_key = false;
    std::string_view key;
    std::string_view key_in_parent;
    bool has_key = false;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

} // namespace

std::optional<std::string> sys_response_request_id(std::string_view text) {
    constexpr std::size_t TRACKED = 2;
    std::array<Level, TRACKED + 1> levels{}; // index = depth (1-based); 0 is the document
    std::size_t depth = 0;
    bool is_sys_response = false;
    std::optional<std::string_view> top_id;
    std::optional<std::string_view> payload_id;
    std::size_t i = 0;
    const std::size_t n = text.size();

    // Called for every value that starts at the current depth; `value` is set for a string
    // without escapes.
    auto on_value = [&](std::optional<std::string_view> value) {
        if (depth == 0 || depth > TRACKED)
            return;
        Level &level = levels[depth];
        if (!level.object || !level.has_key)
            return;
        if (value) {
            if (depth == 1 && level.key == "type" && *value == "sys_response")
                is_sys_response = true;
            else if (depth == 1 && level.key == "requestId")
                top_id = value;
            else if (depth == 2 && level.key == "requestId" && levels[1].object &&
                     level.key_in_parent == "payload")
                payload_id = value;
        }
        level.has_key = false;
    };

    while (i < n) {
        const char c = text[i];
        if (is_space(c) || c == ',') {
            if (c == ',' && depth >= 1 && depth <= TRACKED && levels[depth].object)
                levels[depth].expecting_key = true;
            ++i;
            continue;
        }
        if (c == '"') {
            const std::size_t start = ++i;
            bool escaped = false;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\') {
                    escaped = true;
                    ++i;
                }
                ++i;
            }
            if (i >= n)
                break; // unterminated: the rest cannot be read
            const std::string_view token = text.substr(start, i - start);
            ++i;
            if (depth >= 1 && depth <= TRACKED && levels[depth].object &&
                levels[depth].expecting_key) {
                levels[depth].key = escaped ? std::string_view() : token;
                levels[depth].has_key = true;
                levels[depth].expecting_key = false;
            } else {
                on_value(escaped ? std::nullopt : std::optional<std::string_view>(token));
            }
            continue;
        }
        if (c == ':') {
            ++i;
            continue;
        }
        if (c == '{' || c == '[') {
            std::string_view parent_key;
            if (depth >= 1 && depth <= TRACKED && levels[depth].has_key)
                parent_key = levels[depth].key;
            on_value(std::nullopt);
            ++depth;
            if (depth <= TRACKED)
                levels[depth] = Level{c == '{', c == '{', {}, parent_key, false};
            ++i;
            continue;
        }
        if (c == '}' || c == ']') {
            if (depth == 0)
                break;
            --depth;
            ++i;
            if (depth == 0)
                break; // the top-level object is complete
            continue;
        }
        // A number or literal: skip to the next delimiter.
        on_value(std::nullopt);
        while (i < n && !is_space(text[i]) && text[i] != ',' && text[i] != '}' && text[i] != ']')
            ++i;
    }
    if (!is_sys_response)
        return std::nullopt;
    if (payload_id)
        return std::string(*payload_id);
    if (top_id)
        return std::string(*top_id);
    return std::nullopt;
}

} // namespace zm::kernel::channel
