#include "code_insight/core/text_scan.hpp"

namespace code_insight {

namespace {

bool is_ascii_letter_or_underscore(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_ascii_word(char c) { return is_ascii_letter_or_underscore(c) || (c >= '0' && c <= '9'); }

} // namespace

std::string fill(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(format.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size()) {
            const char spec = format[i + 1];
            if (spec == '%') {
                out += '%';
                ++i;
                continue;
            }
            if ((spec == 's' || spec == 'd') && next != args.end()) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string_view trailing_identifier(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && is_ascii_word(text[start - 1]))
        --start;
    // The leftmost match of the search starts at the first letter or underscore of the run.
    while (start < text.size() && !is_ascii_letter_or_underscore(text[start]))
        ++start;
    return text.substr(start);
}

} // namespace code_insight
