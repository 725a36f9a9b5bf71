#pragma once
/// Where a traceback text points into the workbook's in-memory modules (plain text scanning; no
/// Python needed).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zm::kernel::invocation {

struct ErrorLocation {
    std::string module; ///< the in-memory module's name
    std::string line;   ///< the line number's digits as they stand in the text
};

/// The innermost frame in an in-memory module: the last `File "<virtual:NAME>", line N` of the
/// text (NAME of word characters and dots, so dotted module names match; either quote); else,
/// trying `modules` in order, the first `File "PATH", line N` whose quoted PATH contains the
/// name; else nothing.
std::optional<ErrorLocation> parse_error_location(std::string_view traceback,
                                                  const std::vector<std::string> &modules);

} // namespace zm::kernel::invocation
