#include "code_insight/core/text_scan.hpp"

namespace zm::code_insight::core {

namespace {

bool is_ascii_letter_or_underscore(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_ascii_word(char c) { return is_ascii_letter_or_underscore(c) || (c >= '0' && c <= '9'); }

} // namespace

std::string_view trailing_identifier(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && is_ascii_word(text[start - 1]))
        --start;
    // The leftmost match of the search starts at the first letter or underscore of the run.
    while (start < text.size() && !is_ascii_letter_or_underscore(text[start]))
        ++start;
    return text.substr(start);
}

} // namespace zm::code_insight::core
