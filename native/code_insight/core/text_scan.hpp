#pragma once
/// Text helpers that need no Python: the identifier scan before the cursor.

#include <string_view>

namespace zm::code_insight::core {

/// The identifier ([a-zA-Z_][a-zA-Z0-9_]*) that ends `text`, or empty text. Works on UTF-8:
/// non-ASCII bytes never belong to the identifier.
std::string_view trailing_identifier(std::string_view text);

} // namespace zm::code_insight::core
