#include "kernel/execution/split_scanner.hpp"

namespace zm::kernel::execution {

namespace {

constexpr std::size_t npos = std::string_view::npos;
/// Deeper nesting of f-strings than the interpreter accepts; the text cannot compile, so the
/// scan gives up rather than recurse further.
constexpr int MAX_NESTING = 200;

bool is_identifier_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

class Scanner {
public:
    explicit Scanner(std::string_view text) : s_(text) {}

    std::size_t find() {
        while (pos_ < s_.size() && !gave_up_) {
            const char c = s_[pos_];
            if (c == ';' && pos_ + 1 < s_.size() && s_[pos_ + 1] == ' ')
                return pos_;
            step_code(c);
        }
        return npos;
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
    int depth_ = 0;
    bool gave_up_ = false;

    /// Advances over one element of code starting with `c`: a comment, a string literal, a
    /// backslash pair or a single byte.
    void step_code(char c) {
        if (c == '#') {
            while (pos_ < s_.size() && !is_line_end(s_[pos_]))
                ++pos_;
        } else if (c == '\\') {
            pos_ += 2;
        } else if (c == '\'' || c == '"') {
            scan_string();
        } else {
            ++pos_;
        }
        if (pos_ > s_.size())
            pos_ = s_.size();
    }

    /// The string prefix letters right before the quote at pos_ (empty if the identifier there is
    /// not a string prefix).
    std::string_view prefix_before_quote() const {
        std::size_t start = pos_;
        while (start > 0 && is_identifier_byte(static_cast<unsigned char>(s_[start - 1])))
            --start;
        std::string_view word = s_.substr(start, pos_ - start);
        if (word.size() > 2)
            return {};
        for (char ch : word) {
            switch (ch) {
            case 'r':
            case 'R':
            case 'b':
            case 'B':
            case 'u':
            case 'U':
            case 'f':
            case 'F':
                break;
            default:
                return {};
            }
        }
        return word;
    }

    bool at_triple(char quote) const {
        return pos_ + 2 < s_.size() && s_[pos_] == quote && s_[pos_ + 1] == quote &&
               s_[pos_ + 2] == quote;
    }

    /// Skips the string literal whose opening quote is at pos_.
    void scan_string() {
        bool raw = false;
        bool formatted = false;
        for (char ch : prefix_before_quote()) {
            raw = raw || ch == 'r' || ch == 'R';
            formatted = formatted || ch == 'f' || ch == 'F';
        }
        const char quote = s_[pos_];
        const bool triple = at_triple(quote);
        pos_ += triple ? 3 : 1;
        if (++depth_ > MAX_NESTING) {
            gave_up_ = true;
            return;
        }
        while (pos_ < s_.size() && !gave_up_) {
            const char c = s_[pos_];
            if (c == '\\') {
                skip_escape(raw, formatted);
            } else if (!triple && is_line_end(c)) {
                break; // unterminated: the text does not compile; resume scanning as code
            } else if (c == quote && (!triple || at_triple(quote))) {
                pos_ += triple ? 3 : 1;
                break;
            } else if (formatted && c == '{') {
                if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '{') {
                    pos_ += 2;
                } else {
                    ++pos_;
                    scan_replacement_field();
                }
            } else {
                ++pos_;
            }
        }
        --depth_;
        if (pos_ > s_.size())
            pos_ = s_.size();
    }

    /// Skips a backslash and what it escapes inside a string literal.
    void skip_escape(bool raw, bool formatted) {
        const char next = pos_ + 1 < s_.size() ? s_[pos_ + 1] : '\0';
        if (formatted && next == '{') {
            ++pos_; // "\{" in an f-string still opens a replacement field
        } else if (formatted && !raw && next == 'N' && pos_ + 2 < s_.size() &&
                   s_[pos_ + 2] == '{') {
            const std::size_t close = s_.find('}', pos_ + 3);
            pos_ = close == npos ? s_.size() : close + 1; // \N{NAME} is not a field
        } else {
            pos_ += 2;
        }
    }

    /// Skips an f-string replacement field after its "{", up to and including its "}".
    void scan_replacement_field() {
        int brackets = 0;
        while (pos_ < s_.size() && !gave_up_) {
            const char c = s_[pos_];
            if (c == '(' || c == '[' || c == '{') {
                ++brackets;
                ++pos_;
            } else if ((c == ')' || c == ']' || c == '}') && brackets > 0) {
                --brackets;
                ++pos_;
            } else if (c == '}') {
                ++pos_;
                return;
            } else if (c == ':' && brackets == 0) {
                ++pos_;
                scan_format_spec();
                return;
            } else {
                step_code(c);
            }
        }
    }

    /// Skips a format spec field up to and including the "}" that closes its field; nested
    /// fields ("{width}") are scanned as fields.
    void scan_format_spec() {
        while (pos_ < s_.size() && !gave_up_) {
            const char c = s_[pos_];
            if (c == '{') {
                ++pos_;
                if (++depth_ > MAX_NESTING) {
                    gave_up_ = true;
                    return;
                }
                scan_replacement_field();
                --depth_;
            } else if (c == '}') {
                ++pos_;
                return;
            } else {
                ++pos_;
            }
        }
    }
};

} // namespace

std::size_t find_statement_split(std::string_view code) { return Scanner(code).find(); }

} // namespace zm::kernel::execution
