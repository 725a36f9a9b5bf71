#pragma once
/// Repair of texts that UTF-8 cannot carry; no Python here.

#include <cstddef>
#include <vector>

namespace zm::kernel::core {

/// The replacement character that stands for a lone surrogate in outgoing text.
inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

/// True for a UTF-16 surrogate code point (U+D800..U+DFFF).
constexpr bool is_surrogate(char32_t point) { return point >= 0xD800 && point <= 0xDFFF; }

/// Repairs `points` in place and returns how many of them remain: a high surrogate followed by
/// a low one becomes the character the pair encodes, every other surrogate becomes U+FFFD.
/// Python texts hold lone surrogates after `surrogateescape` decoding (file names that are not
/// UTF-8) or from escapes such as "\ud800"; no peer can read them as UTF-8.
std::size_t repair_surrogates(std::vector<char32_t> &points);

} // namespace zm::kernel::core
