#pragma once
/// Text rules of the resolver that need no Python: name normalisation, the extras named by a
/// marker, the exact pin of a specifier, and the interpreter's notion of white space.
///
/// Texts arrive as UTF-32 code points (or UTF-8 for names), so the rules match what the
/// interpreter's `re` and `str` methods would do on the same text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zm::requirement_solver::resolve {

/// True for the code points `str.isspace()` and `re`'s `\s` accept.
bool is_py_space(char32_t c) noexcept;

/// True when `text` is empty or only white space (what `not text.strip()` tests).
bool is_blank(std::u32string_view text) noexcept;

/// Replaces each run of '-', '_' and '.' by one '-' (the name is lower-cased beforehand).
std::string collapse_separators(std::string_view lowered);

/// True when every byte is ASCII, so lower-casing byte by byte equals `str.lower()`.
bool is_ascii(std::string_view text) noexcept;

/// ASCII lower-casing, in place.
void ascii_lower(std::string &text) noexcept;

/// Half-open range [begin, end) of code points within a text.
struct Span {
    std::size_t begin;
    std::size_t end;
};

/// The extra names captured by every match of `extra\s*==\s*['"]([^'"]+)['"]` in `markers`,
/// in order: a dependency of `extra == "a" or extra == "b"` belongs to both extras.
std::vector<Span> marker_extras(std::u32string_view markers);

/// The version captured by `^\s*==\s*([0-9][0-9a-zA-Z._-]*)` matched at the start of `spec`.
std::optional<Span> exact_pin(std::u32string_view spec) noexcept;

} // namespace zm::requirement_solver::resolve
