#pragma once
/// Text helpers that need no Python: log-text filling and the identifier scan before the cursor.

#include <initializer_list>
#include <string>
#include <string_view>

namespace code_insight {

/// `format` with each "%s" / "%d" replaced by the next of `args`, in order ("%%" stays "%").
std::string fill(std::string_view format, std::initializer_list<std::string_view> args);

/// The identifier ([a-zA-Z_][a-zA-Z0-9_]*) that ends `text`, or empty text. Works on UTF-8:
/// non-ASCII bytes never belong to the identifier.
std::string_view trailing_identifier(std::string_view text);

} // namespace code_insight
