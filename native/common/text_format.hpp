#pragma once
/// Whole-message templates filled in one place: every message, log and error text of a module is
/// one constant with "{}" holes ("Function '{}' not found in module '{}'"), so grep finds it whole.
/// No pybind11 here: callers turn Python objects into text before filling a template.

#include <concepts>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace zm {

/// Number of "{}" holes in `text`; "{{" and "}}" stand for literal braces. -1 when a brace is
/// unbalanced, so a malformed template is refused at compile time.
consteval int count_holes(std::string_view text) {
    int holes = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '{' && c != '}')
            continue;
        if (i + 1 < text.size() && text[i + 1] == c) {
            ++i;
            continue;
        }
        if (c == '{' && i + 1 < text.size() && text[i + 1] == '}') {
            ++holes;
            ++i;
            continue;
        }
        return -1;
    }
    return holes;
}

/// A template whose hole count is checked against the arguments where it is used.
template <class... Args> struct Template {
    std::string_view text;
    template <class S>
        requires std::convertible_to<const S &, std::string_view>
    consteval Template(const S &s) : text(s) {
        if (count_holes(text) != static_cast<int>(sizeof...(Args)))
            throw "template holes do not match the arguments"; // a compile error in consteval
    }
};

namespace text_format_detail {

inline void append(std::string &out, std::string_view value) { out.append(value); }
inline void append(std::string &out, const std::string &value) { out.append(value); }
inline void append(std::string &out, const char *value) { out.append(value ? value : ""); }
inline void append(std::string &out, char value) { out.push_back(value); }
inline void append(std::string &out, bool value) { out.append(value ? "true" : "false"); }
template <class T>
    requires(std::integral<T> && !std::same_as<T, char> && !std::same_as<T, bool>)
void append(std::string &out, T value) {
    out.append(std::to_string(value));
}
void append(std::string &out, double value);

/// Copies `text` up to its next hole (or its end) into `out`, undoubling braces; returns where
/// the rest starts.
std::size_t copy_literal(std::string &out, std::string_view text, std::size_t from);

} // namespace text_format_detail

/// `tmpl` with its holes filled by `args` in order (strings, characters, integers, doubles).
template <class... Args>
std::string format(Template<std::type_identity_t<Args>...> tmpl, const Args &...args) {
    std::string out;
    out.reserve(tmpl.text.size() + 16 * sizeof...(Args));
    std::size_t pos = text_format_detail::copy_literal(out, tmpl.text, 0);
    ((text_format_detail::append(out, args),
      pos = text_format_detail::copy_literal(out, tmpl.text, pos + 2)),
     ...);
    return out;
}

} // namespace zm
