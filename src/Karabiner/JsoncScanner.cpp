#include "Karabiner/JsoncScanner.h"

#include <algorithm>
#include <cstring>

#include "Karabiner/KarabinerFormatter.h"

namespace tarvel::jsonc {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hexadecimal digits at `pos`, or -1.
long hex4(std::string_view t, std::size_t pos) {
    if (pos + 4 > t.size()) return -1;
    long value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        int digit = hexValue(t[pos + i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The decimal digits of the midpoint between the largest double and the next power of two, without
// trailing zeros, as a number in [1, 10) times 10^308. Readers round a literal at or above it to
// infinity, which Karabiner-Elements' reader refuses.
constexpr std::string_view overflowDigits =
    "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692"
    "887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842"
    "914819860834936475292719074168444365510704342711559699508093042880177904174497792";

// A number token that the grammar accepted: does its value round to infinity as a double?
bool overflowsDouble(std::string_view number) {
    std::size_t i = number[0] == '-' ? 1 : 0;
    std::string digits;
    const std::size_t integerStart = i;
    while (i < number.size() && isDigit(number[i])) digits.push_back(number[i++]);
    const long integerDigits = static_cast<long>(i - integerStart);
    if (i < number.size() && number[i] == '.')
        for (++i; i < number.size() && isDigit(number[i]);) digits.push_back(number[i++]);
    long exponent = 0;
    if (i < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        const bool negative = number[++i] == '-';
        if (number[i] == '-' || number[i] == '+') ++i;
        for (; i < number.size(); ++i) exponent = std::min(exponent * 10 + (number[i] - '0'), 100000000L);
        if (negative) exponent = -exponent;
    }
    const std::size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return false;  // zero
    // The power of ten of the first significant digit.
    const long power = integerDigits - 1 - static_cast<long>(first) + exponent;
    if (power != 308) return power > 308;
    std::string_view significant(digits);
    significant.remove_prefix(first);
    while (significant.back() == '0') significant.remove_suffix(1);
    return significant >= overflowDigits;
}

// Where a // comment at `pos` stops. Karabiner-Elements' reader ends it at a line break, which is
// left to the white space after it, or at a NUL byte, which the comment takes: the reader goes on
// reading the document after that NUL.
std::size_t lineCommentEnd(std::string_view t, std::size_t pos) {
    std::size_t p = pos + 2;
    while (p < t.size() && t[p] != '\n' && t[p] != '\r' && t[p] != '\0') ++p;
    return p < t.size() && t[p] == '\0' ? p + 1 : p;
}

enum class Want { value, valueOrClose, key, keyOrClose, colon, commaOrClose, end };

class Scanner {
public:
    Scanner(std::string_view text, std::size_t maxDepth) : t_(text), maxDepth_(maxDepth) {}

    Result<Facts, Problem> run() {
        if (t_.size() >= 3 && std::memcmp(t_.data(), "\xEF\xBB\xBF", 3) == 0) p_ = 3;
        if (!skip()) return fail();
        if (p_ == t_.size()) return failAt(Problem::Kind::syntax, "the file is empty", p_);
        facts_.top.begin = p_;
        Want want = Want::value;
        for (;;) {
            if (!skip()) return fail();
            if (want == Want::end) {
                // Karabiner-Elements' reader stops at a NUL byte after the document.
                if (p_ != t_.size() && t_[p_] != '\0')
                    return failAt(Problem::Kind::syntax, "unexpected text after the end of the document", p_);
                break;
            }
            if (p_ == t_.size()) return failAt(Problem::Kind::syntax, "the document ends too early", p_);
            const char c = t_[p_];
            switch (want) {
            case Want::value:
            case Want::valueOrClose:
                if (c == ']' && !stack_.empty() && !stack_.back().object) {
                    if (want == Want::value) return trailingComma();
                    if (!close()) return fail();
                    want = afterValue();
                    break;
                }
                if (!beginValue(c, want)) return fail();
                break;
            case Want::key:
            case Want::keyOrClose:
                if (c == '}') {
                    if (want == Want::key) return trailingComma();
                    if (!close()) return fail();
                    want = afterValue();
                    break;
                }
                if (c != '"') return failAt(Problem::Kind::syntax, "expected a member name in quotes", p_);
                stack_.back().keyForced = alwaysMultiLineArrayKey(t_.substr(p_ + 1, t_.find('"', p_ + 1) - p_ - 1));
                if (!string()) return fail();
                want = Want::colon;
                break;
            case Want::colon:
                if (c != ':') return failAt(Problem::Kind::syntax, "expected ':' after the member name", p_);
                ++p_;
                want = Want::value;
                break;
            case Want::commaOrClose: {
                const bool object = stack_.back().object;
                if (c == ',') {
                    lastComma_ = p_++;
                    want = object ? Want::key : Want::value;
                } else if (c == (object ? '}' : ']')) {
                    if (!close()) return fail();
                    want = afterValue();
                } else {
                    return failAt(Problem::Kind::syntax, object ? "expected ',' or '}'" : "expected ',' or ']'", p_);
                }
                break;
            }
            case Want::end: break;
            }
        }
        findLayout();
        std::sort(facts_.shallowContainers.begin(), facts_.shallowContainers.end(),
                  [](const Span& a, const Span& b) { return a.begin < b.begin; });
        return facts_;
    }

private:
    struct Frame {
        bool object;
        std::size_t open;
        std::size_t openNewlines;
        bool forced = false;         // an array under a name that is always written on several lines
        std::size_t count = 0;
        bool anyContainer = false;
        bool firstOneLine = true;
        bool keyForced = false;      // the current member's name
    };

    Result<Facts, Problem> fail() { return unexpected(*problem_); }
    Result<Facts, Problem> failAt(Problem::Kind kind, std::string what, std::size_t offset) {
        set(kind, std::move(what), offset);
        return fail();
    }
    Result<Facts, Problem> trailingComma() {
        return failAt(Problem::Kind::trailingComma, "a comma before a closing bracket", lastComma_);
    }
    bool set(Problem::Kind kind, std::string what, std::size_t offset) {
        auto [line, column] = lineAndColumn(t_, offset);
        problem_ = Problem{kind, std::move(what), offset, line, column};
        return false;
    }

    // White space and comments; counts line feeds so that a container knows whether it spans lines.
    bool skip() {
        while (p_ < t_.size()) {
            const char c = t_[p_];
            if (c == ' ' || c == '\t' || (c == '\r' && p_ + 1 < t_.size() && t_[p_ + 1] == '\n')) {
                ++p_;
            } else if (c == '\n' || c == '\r') {  // a CR alone ends a line too
                ++newlines_;
                ++p_;
            } else if (c == '/') {
                facts_.hasComments = true;
                const char next = p_ + 1 < t_.size() ? t_[p_ + 1] : '\0';
                if (next == '/') {
                    // lineCommentEnd(), written out: calling it here made the optimized scan
                    // about 8% slower, with or without comments in the file.
                    p_ += 2;
                    while (p_ < t_.size() && t_[p_] != '\n' && t_[p_] != '\r' && t_[p_] != '\0') ++p_;
                    if (p_ < t_.size() && t_[p_] == '\0') ++p_;
                } else if (next == '*') {
                    const std::size_t start = p_;
                    const std::size_t end = t_.find("*/", p_ + 2);
                    if (end == std::string_view::npos || std::memchr(t_.data() + p_, '\0', end - p_))
                        return set(Problem::Kind::syntax, "a comment that starts with /* is not closed with */", start);
                    newlines_ += static_cast<std::size_t>(std::count(t_.data() + p_, t_.data() + end, '\n'));
                    p_ = end + 2;
                } else {
                    return set(Problem::Kind::syntax, "a comment starts with // or /*", p_);
                }
            } else {
                break;
            }
        }
        return true;
    }

    bool beginValue(char c, Want& want) {
        if (c == '{' || c == '[') {
            if (stack_.size() >= maxDepth_)
                return set(Problem::Kind::tooDeep, "nested deeper than " + std::to_string(maxDepth_) + " levels", p_);
            const bool forced = c == '[' && !stack_.empty() && stack_.back().object && stack_.back().keyForced;
            stack_.push_back(Frame{c == '{', p_, newlines_, forced});
            ++p_;
            want = c == '{' ? Want::keyOrClose : Want::valueOrClose;
            return true;
        }
        bool ok;
        if (c == '"') ok = string();
        else if (c == '-' || isDigit(c)) ok = number();
        else if (c == 't') ok = literal("true");
        else if (c == 'f') ok = literal("false");
        else if (c == 'n') ok = literal("null");
        else return set(Problem::Kind::syntax, "unexpected character", p_);
        if (!ok) return false;
        valueDone(false, true);
        want = afterValue();
        return true;
    }

    Want afterValue() const { return stack_.empty() ? Want::end : Want::commaOrClose; }

    void valueDone(bool container, bool oneLine) {
        if (stack_.empty()) {
            facts_.top.end = p_;
            return;
        }
        Frame& frame = stack_.back();
        if (++frame.count == 1) frame.firstOneLine = oneLine;
        frame.anyContainer = frame.anyContainer || container;
    }

    bool close() {
        const Frame frame = stack_.back();
        // Short containers are as quick to read again; leaving them out bounds the index's size.
        if (stack_.size() <= indexedDepth && p_ + 1 - frame.open >= 256) facts_.shallowContainers.push_back({frame.open, p_ + 1});
        stack_.pop_back();
        ++p_;
        // How Karabiner-Elements decides: one line for an empty container, for a single member or
        // element that fits on one line, and for an array of two or more values none of which is a
        // container; never for the arrays under a few names.
        bool karabinerOneLine;
        if (frame.forced) karabinerOneLine = false;
        else if (frame.count == 0) karabinerOneLine = true;
        else if (frame.count == 1) karabinerOneLine = frame.firstOneLine;
        else karabinerOneLine = !frame.object && !frame.anyContainer;
        if (karabinerOneLine != (newlines_ == frame.openNewlines)) facts_.laidOutLikeKarabiner = false;
        valueDone(true, karabinerOneLine);
        return true;
    }

    bool literal(std::string_view word) {
        if (t_.substr(p_, word.size()) != word) return set(Problem::Kind::syntax, "unexpected character", p_);
        p_ += word.size();
        return true;
    }

    bool number() {
        const std::size_t start = p_;
        if (t_[p_] == '-') ++p_;
        auto digits = [&] {
            const std::size_t from = p_;
            while (p_ < t_.size() && isDigit(t_[p_])) ++p_;
            return p_ > from;
        };
        if (p_ < t_.size() && t_[p_] == '0') ++p_;
        else if (!digits()) return set(Problem::Kind::syntax, "a number has no digits", start);
        if (p_ < t_.size() && t_[p_] == '.') {
            ++p_;
            if (!digits()) return set(Problem::Kind::syntax, "a number has no digits after its decimal point", start);
        }
        if (p_ < t_.size() && (t_[p_] == 'e' || t_[p_] == 'E')) {
            ++p_;
            if (p_ < t_.size() && (t_[p_] == '+' || t_[p_] == '-')) ++p_;
            if (!digits()) return set(Problem::Kind::syntax, "a number has no digits in its exponent", start);
        }
        if (overflowsDouble(t_.substr(start, p_ - start)))
            return set(Problem::Kind::numberOutOfRange, "a number too large for Karabiner-Elements", start);
        return true;
    }

    bool string() {
        const std::size_t start = p_++;
        const auto* bytes = reinterpret_cast<const unsigned char*>(t_.data());
        const std::size_t n = t_.size();
        for (;;) {
            while (p_ < n && bytes[p_] >= 0x20 && bytes[p_] < 0x80 && bytes[p_] != '"' && bytes[p_] != '\\') ++p_;
            if (p_ >= n) return set(Problem::Kind::syntax, "a text in quotes is not closed", start);
            const unsigned char c = bytes[p_];
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c == '\\') {
                if (!escape()) return false;
            } else if (c < 0x20) {
                return set(Problem::Kind::syntax, "a control character inside quotes must be written as an escape", p_);
            } else if (!utf8(bytes, n)) {
                return set(Problem::Kind::syntax, "a text in quotes is not valid UTF-8", p_);
            }
        }
    }

    bool escape() {
        const std::size_t at = p_;
        const char e = p_ + 1 < t_.size() ? t_[p_ + 1] : '\0';
        if (std::strchr("\"\\/bfnrt", e) && e != '\0') {
            p_ += 2;
            return true;
        }
        if (e != 'u') return set(Problem::Kind::syntax, "an unknown escape after a backslash", at);
        const long unit = hex4(t_, p_ + 2);
        if (unit < 0) return set(Problem::Kind::syntax, "\\u must be followed by four hexadecimal digits", at);
        p_ += 6;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return set(Problem::Kind::syntax, "a lone low surrogate escape", at);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const long low = p_ + 1 < t_.size() && t_[p_] == '\\' && t_[p_ + 1] == 'u' ? hex4(t_, p_ + 2) : -1;
            if (low < 0xDC00 || low > 0xDFFF) return set(Problem::Kind::syntax, "a high surrogate escape without its low half", at);
            p_ += 6;
        }
        return true;
    }

    // One multi-byte sequence, with the ranges that exclude overlong forms, surrogates and
    // values above U+10FFFF.
    bool utf8(const unsigned char* b, std::size_t n) {
        const unsigned char c = b[p_];
        auto in = [&](std::size_t i, unsigned char lo, unsigned char hi) { return p_ + i < n && b[p_ + i] >= lo && b[p_ + i] <= hi; };
        std::size_t length;
        if (c >= 0xC2 && c <= 0xDF) length = in(1, 0x80, 0xBF) ? 2 : 0;
        else if (c == 0xE0) length = in(1, 0xA0, 0xBF) && in(2, 0x80, 0xBF) ? 3 : 0;
        else if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) length = in(1, 0x80, 0xBF) && in(2, 0x80, 0xBF) ? 3 : 0;
        else if (c == 0xED) length = in(1, 0x80, 0x9F) && in(2, 0x80, 0xBF) ? 3 : 0;
        else if (c == 0xF0) length = in(1, 0x90, 0xBF) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
        else if (c >= 0xF1 && c <= 0xF3) length = in(1, 0x80, 0xBF) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
        else if (c == 0xF4) length = in(1, 0x80, 0x8F) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
        else length = 0;
        p_ += length;
        return length != 0;
    }

    static constexpr std::size_t maxIndentUnit = 16;

    void findLayout() {
        // CR LF or CR alone where the first line ends so.
        const std::size_t firstLineEnd = t_.find_first_of("\r\n");
        if (firstLineEnd != std::string_view::npos && t_[firstLineEnd] == '\r')
            facts_.newline = firstLineEnd + 1 < t_.size() && t_[firstLineEnd + 1] == '\n' ? "\r\n" : "\r";
        // The first line that starts with white space and a member name shows the unit of indentation.
        const std::size_t limit = std::min<std::size_t>(t_.size(), 1 << 16);
        for (std::size_t i = t_.find_first_of("\r\n"); i < limit; i = t_.find_first_of("\r\n", i + 1)) {
            std::size_t j = i + 1;
            while (j < t_.size() && (t_[j] == ' ' || t_[j] == '\t')) ++j;
            if (j > i + 1 && j < t_.size() && t_[j] == '"') {
                // An absurd unit would be repeated at every level of every new line.
                if (j - i - 1 <= maxIndentUnit) facts_.indentUnit = std::string(t_.substr(i + 1, j - i - 1));
                break;
            }
        }
    }

    std::string_view t_;
    std::size_t maxDepth_;
    std::size_t p_ = 0;
    std::size_t newlines_ = 0;
    std::size_t lastComma_ = 0;
    std::vector<Frame> stack_;
    Facts facts_;
    std::optional<Problem> problem_;
};

// The bytes at which navigation inside valid text has something to do.
struct ByteClass {
    bool stringStop[256] = {};     // '"' and '\\'
    bool structureStop[256] = {};  // '"', brackets and '/'
    constexpr ByteClass() {
        stringStop[static_cast<unsigned char>('"')] = stringStop[static_cast<unsigned char>('\\')] = true;
        for (char c : {'"', '{', '}', '[', ']', '/'}) structureStop[static_cast<unsigned char>(c)] = true;
    }
};
constexpr ByteClass byteClass;

std::size_t stringEnd(std::string_view text, std::size_t begin) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t p = begin + 1;
    for (;;) {
        while (p < text.size() && !byteClass.stringStop[bytes[p]]) ++p;
        if (p >= text.size()) return text.size();
        if (bytes[p] == '"') return p + 1;
        p += 2;
    }
}

} // namespace

Result<Facts, Problem> scan(std::string_view text, std::size_t maxDepth) { return Scanner(text, maxDepth).run(); }

std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    std::size_t line = 1, lineStart = 0;
    for (std::size_t i = 0; i < offset; ++i)
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    std::size_t column = 1;
    for (std::size_t i = lineStart; i < offset; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
    return {line, column};
}

std::size_t skipSpace(std::string_view text, std::size_t pos) {
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++pos;
        } else if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '/') {
            pos = lineCommentEnd(text, pos);
        } else if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '*') {
            pos = text.find("*/", pos + 2);
            if (pos == std::string_view::npos) return text.size();
            pos += 2;
        } else {
            break;
        }
    }
    return pos;
}

std::size_t valueEnd(std::string_view text, std::size_t begin, const Facts* facts) {
    const char first = text[begin];
    if (first == '"') return stringEnd(text, begin);
    if (facts && (first == '{' || first == '[')) {
        const auto& known = facts->shallowContainers;
        auto it = std::lower_bound(known.begin(), known.end(), begin, [](const Span& span, std::size_t at) { return span.begin < at; });
        if (it != known.end() && it->begin == begin) return it->end;
    }
    if (first != '{' && first != '[') {
        std::size_t p = begin;
        while (p < text.size() && !std::strchr(",}] \t\r\n/", text[p])) ++p;
        return p;
    }
    // Brackets are counted; strings and comments are stepped over whole.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t depth = 0, p = begin;
    while (p < text.size()) {
        while (p < text.size() && !byteClass.structureStop[bytes[p]]) ++p;
        if (p >= text.size()) return text.size();
        switch (text[p]) {
        case '"': p = stringEnd(text, p); continue;
        case '/': p = std::max(skipSpace(text, p), p + 1); continue;
        case '{':
        case '[': ++depth; break;
        default:
            if (--depth == 0) return p + 1;
        }
        ++p;
    }
    return p;
}

std::vector<Member> members(std::string_view text, std::size_t open, const Facts* facts) {
    std::vector<Member> found;
    std::size_t p = skipSpace(text, open + 1);
    while (p < text.size() && text[p] == '"') {
        Member member;
        member.key = {p, stringEnd(text, p)};
        p = skipSpace(text, member.key.end);  // at ':'
        p = skipSpace(text, p + 1);
        member.value = {p, valueEnd(text, p, facts)};
        found.push_back(member);
        p = skipSpace(text, member.value.end);
        if (p < text.size() && text[p] == ',') p = skipSpace(text, p + 1);
    }
    return found;
}

std::vector<Span> elements(std::string_view text, std::size_t open, const Facts* facts) {
    std::vector<Span> found;
    std::size_t p = skipSpace(text, open + 1);
    while (p < text.size() && text[p] != ']') {
        Span element{p, valueEnd(text, p, facts)};
        found.push_back(element);
        p = skipSpace(text, element.end);
        if (p < text.size() && text[p] == ',') p = skipSpace(text, p + 1);
    }
    return found;
}

std::optional<Member> lastMember(std::string_view text, std::size_t open, std::string_view name) {
    return lastMember(text, members(text, open), name);
}

std::optional<Member> lastMember(std::string_view text, const std::vector<Member>& members, std::string_view name) {
    for (auto it = members.rbegin(); it != members.rend(); ++it)
        if (nameIs(it->key.of(text), name)) return *it;
    return std::nullopt;
}

bool nameIs(std::string_view token, std::string_view name) {
    std::string_view inner = token.substr(1, token.size() - 2);
    if (inner.find('\\') == std::string_view::npos) return inner == name;
    return decodeString(token) == name;
}

std::string decodeString(std::string_view token) {
    std::string out;
    out.reserve(token.size());
    auto append = [&](unsigned long cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (std::size_t i = 1; i + 1 < token.size(); ++i) {
        if (token[i] != '\\') {
            out.push_back(token[i]);
            continue;
        }
        const char e = token[++i];
        switch (e) {
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
            unsigned long cp = static_cast<unsigned long>(hex4(token, i + 1));
            i += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 6 < token.size()) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<unsigned long>(hex4(token, i + 3)) - 0xDC00);
                i += 6;
            }
            append(cp);
            break;
        }
        default: out.push_back(e);
        }
    }
    return out;
}

bool hasCommentIn(std::string_view text, Span span) {
    for (std::size_t p = span.begin; p < span.end;) {
        p = text.find_first_of("\"/", p);
        if (p == std::string_view::npos || p >= span.end) return false;
        if (text[p] == '/') return true;
        p = stringEnd(text, p);
    }
    return false;
}

} // namespace tarvel::jsonc
