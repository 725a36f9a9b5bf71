#include "common/text_format.hpp"

#include <cstdio>
#include <cstdlib>

namespace zm::text_format_detail {

void append(std::string &out, double value) {
    // Python's repr for the common cases: shortest text that reads back as the same double.
    char buffer[32];
    int n = std::snprintf(buffer, sizeof buffer, "%.17g", value);
    for (int precision = 1; precision < 17; ++precision) {
        char shorter[32];
        int m = std::snprintf(shorter, sizeof shorter, "%.*g", precision, value);
        if (std::strtod(shorter, nullptr) == value) {
            out.append(shorter, static_cast<std::size_t>(m));
            return;
        }
    }
    out.append(buffer, static_cast<std::size_t>(n));
}

std::size_t copy_literal(std::string &out, std::string_view text, std::size_t from) {
    std::size_t i = from;
    while (i < text.size()) {
        char c = text[i];
        if (c == '{' && i + 1 < text.size() && text[i + 1] == '}')
            return i;
        out.push_back(c);
        // "{{" and "}}" were checked at compile time; keep one brace of each pair.
        i += (c == '{' || c == '}') ? 2 : 1;
    }
    return i;
}

} // namespace zm::text_format_detail
