#include "requirement_solver/resolve/name_rules.hpp"

namespace zm::requirement_solver::resolve {

namespace {

bool is_quote(char32_t c) noexcept { return c == U'\'' || c == U'"'; }

bool is_ascii_digit(char32_t c) noexcept { return c >= U'0' && c <= U'9'; }

bool is_pin_char(char32_t c) noexcept {
    return is_ascii_digit(c) || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || c == U'.' ||
           c == U'_' || c == U'-';
}

std::size_t skip_space(std::u32string_view text, std::size_t i) noexcept {
    while (i < text.size() && is_py_space(text[i]))
        ++i;
    return i;
}

/// Matches the extra pattern anchored at `start`.
std::optional<Span> extra_at(std::u32string_view text, std::size_t start) noexcept {
    constexpr std::u32string_view word = U"extra";
    if (text.substr(start, word.size()) != word)
        return std::nullopt;
    std::size_t i = skip_space(text, start + word.size());
    if (text.substr(i, 2) != U"==")
        return std::nullopt;
    i = skip_space(text, i + 2);
    if (i >= text.size() || !is_quote(text[i]))
        return std::nullopt;
    const std::size_t begin = ++i;
    // The captured run is greedy and cannot give characters back to the closing quote, so the
    // first quote after it decides.
    while (i < text.size() && !is_quote(text[i]))
        ++i;
    if (i == begin || i >= text.size())
        return std::nullopt;
    return Span{begin, i};
}

} // namespace

bool is_py_space(char32_t c) noexcept {
    if (c <= 0x20)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
    switch (c) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

bool is_blank(std::u32string_view text) noexcept { return skip_space(text, 0) == text.size(); }

std::string collapse_separators(std::string_view lowered) {
    std::string out;
    out.reserve(lowered.size());
    bool in_run = false;
    for (const char c : lowered) {
        if (c == '-' || c == '_' || c == '.') {
            if (!in_run)
                out.push_back('-');
            in_run = true;
        } else {
            out.push_back(c);
            in_run = false;
        }
    }
    return out;
}

bool is_ascii(std::string_view text) noexcept {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

void ascii_lower(std::string &text) noexcept {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
}

std::vector<Span> marker_extras(std::u32string_view markers) {
    std::vector<Span> found;
    for (std::size_t i = markers.find(U"extra"); i != std::u32string_view::npos;
         i = markers.find(U"extra", i + 1)) {
        if (auto span = extra_at(markers, i)) {
            found.push_back(*span);
            i = span->end;
        }
    }
    return found;
}

std::optional<Span> exact_pin(std::u32string_view spec) noexcept {
    std::size_t i = skip_space(spec, 0);
    if (spec.substr(i, 2) != U"==")
        return std::nullopt;
    i = skip_space(spec, i + 2);
    if (i >= spec.size() || !is_ascii_digit(spec[i]))
        return std::nullopt;
    const std::size_t begin = i;
    while (i < spec.size() && is_pin_char(spec[i]))
        ++i;
    return Span{begin, i};
}

} // namespace zm::requirement_solver::resolve
