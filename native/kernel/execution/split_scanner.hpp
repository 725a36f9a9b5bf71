#pragma once
/// Finds where console text splits into statements and a final expression.
///
/// The console splits "head; tail" at the first "; " (semicolon, blank) so that the tail can be
/// evaluated for its value. Only a "; " in code counts: the scanner skips string literals (any
/// prefix, single or triple quoted, with escapes, and f-strings with nested replacement fields)
/// and comments.

#include <cstddef>
#include <string_view>

namespace zm::kernel::execution {

/// Byte offset of the first "; " of `code` (UTF-8) that lies outside string literals and
/// comments, or std::string_view::npos.
std::size_t find_statement_split(std::string_view code);

} // namespace zm::kernel::execution
