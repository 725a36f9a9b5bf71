#include "kernel/invocation/error_location.hpp"

namespace zm::kernel::invocation {

namespace {

constexpr std::string_view FILE_WORD = "File ";
constexpr std::string_view VIRTUAL_OPEN = "<virtual:";
constexpr std::string_view LINE_WORD = ", line ";

bool is_quote(char c) { return c == '"' || c == '\''; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

/// A word character of a module name, or a dot. Bytes of non-ASCII characters count as word
/// characters: identifiers may be written in any script.
bool is_name_char(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) ||
           c == '_' || c == '.';
}

/// After a closing quote at `pos`: ", line " and at least one digit; the digits, or nothing.
std::optional<std::string> line_after(std::string_view text, std::size_t pos) {
    if (pos >= text.size() || !is_quote(text[pos]))
        return std::nullopt;
    pos += 1;
    if (text.substr(pos, LINE_WORD.size()) != LINE_WORD)
        return std::nullopt;
    pos += LINE_WORD.size();
    std::size_t end = pos;
    while (end < text.size() && is_digit(text[end]))
        ++end;
    if (end == pos)
        return std::nullopt;
    return std::string(text.substr(pos, end - pos));
}

/// Every `File <quote>` opening: calls `visit(path_start)` with the index after the quote.
template <class Visit> void each_file_entry(std::string_view text, Visit &&visit) {
    std::size_t at = text.find(FILE_WORD);
    while (at != std::string_view::npos) {
        const std::size_t quote = at + FILE_WORD.size();
        if (quote < text.size() && is_quote(text[quote]) && visit(quote + 1))
            return;
        at = text.find(FILE_WORD, at + 1);
    }
}

} // namespace

std::optional<ErrorLocation> parse_error_location(std::string_view traceback,
                                                  const std::vector<std::string> &modules) {
    std::optional<ErrorLocation> last;
    each_file_entry(traceback, [&](std::size_t start) {
        if (traceback.substr(start, VIRTUAL_OPEN.size()) != VIRTUAL_OPEN)
            return false;
        const std::size_t name_start = start + VIRTUAL_OPEN.size();
        std::size_t name_end = name_start;
        while (name_end < traceback.size() && is_name_char(traceback[name_end]))
            ++name_end;
        if (name_end == name_start || name_end >= traceback.size() || traceback[name_end] != '>')
            return false;
        if (auto line = line_after(traceback, name_end + 1))
            last = ErrorLocation{std::string(traceback.substr(name_start, name_end - name_start)),
                                 std::move(*line)};
        return false;
    });
    if (last)
        return last;
    for (const std::string &name : modules) {
        std::optional<ErrorLocation> found;
        each_file_entry(traceback, [&](std::size_t start) {
            // The quoted path runs to the next quote of either kind.
            std::size_t end = start;
            while (end < traceback.size() && !is_quote(traceback[end]))
                ++end;
            if (traceback.substr(start, end - start).find(name) == std::string_view::npos)
                return false;
            if (auto line = line_after(traceback, end)) {
                found = ErrorLocation{name, std::move(*line)};
                return true;
            }
            return false;
        });
        if (found)
            return found;
    }
    return std::nullopt;
}

} // namespace zm::kernel::invocation
