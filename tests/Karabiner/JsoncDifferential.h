#pragma once
// The scanner held to Karabiner-Elements' own reader (nlohmann::json, comments allowed): seeded
// documents shaped like karabiner.json, mutations of them, and a judge that compares what each
// side accepts and, when both do, what the scanner's navigation finds with the reader's tree.
// Shared by the unit tests (a few thousand inputs) and bench/scanner-differential (many more).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Karabiner/JsoncScanner.h"
#include "Platform/Json.h"

namespace tarvel::jsonc::differential {

// splitmix64: the same inputs from a seed on every platform and standard library.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }
    bool percent(unsigned p) { return below(100) < p; }
    template <class T, std::size_t N>
    const T& pick(const T (&items)[N]) { return items[below(N)]; }

private:
    std::uint64_t state_;
};

// One input's own generator, so that input `index` of a run can be made again alone.
inline Random randomFor(std::uint64_t seed, std::uint64_t index) {
    Random mixer(seed ^ (index * 0xD1B54A32D192ED03ULL));
    return Random(mixer.next());
}

// The decimal digits of the midpoint between the largest double and 2^1024: literals at or above
// it are infinite for the reader, which refuses them.
inline constexpr std::string_view doubleOverflowDigits =
    "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692"
    "887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842"
    "914819860834936475292719074168444365510704342711559699508093042880177904174497792";

struct Document {
    std::string text;
    std::vector<Span> lineComments;  // the text of each // comment, for mutations that aim there
};

// Valid karabiner.json-like JSONC: comments (// ended by a line break or a NUL, /* */) in any gap
// between tokens, one line-break style per document, a byte order mark sometimes, names written
// with escapes, duplicate names, strings with escapes and UTF-8, numbers near the ends of the
// double range, nesting a few levels either side of the scanner's limit, bytes after a NUL at the
// end. Some documents are refused by both readers (an infinite number, nesting too deep).
class DocumentWriter {
public:
    DocumentWriter(Random& random, std::size_t budget) : r_(random), budget_(budget) {}

    Document write() {
        static const std::string_view newlines[] = {"\n", "\r\n", "\r"};
        newline_ = r_.pick(newlines);
        // Some documents are dense with comments, most have a few.
        gapPercent_ = r_.percent(20) ? 50 : 12;
        deep_ = r_.percent(5);
        if (r_.percent(10)) out_ += "\xEF\xBB\xBF";
        gap();
        root();
        gap();
        if (r_.percent(10)) {
            out_.push_back('\0');
            static const std::string_view after[] = {"", "garbage", std::string_view("\0}", 2), "// x", "{\"a\": 1}", "\xFF\xFE"};
            out_ += r_.pick(after);
        }
        return {std::move(out_), std::move(lineComments_)};
    }

private:
    void gap() {
        if (!r_.percent(gapPercent_)) return;
        for (std::size_t pieces = 1 + r_.below(2); pieces > 0; --pieces) {
            switch (r_.below(6)) {
            case 0: out_ += r_.percent(50) ? " " : "\t "; break;
            case 1:
            case 2: out_ += newline_; out_ += std::string(r_.below(9), ' '); break;
            case 3:
            case 4: lineComment(); break;
            default: blockComment(); break;
            }
        }
    }

    // Bytes a comment may hold: anything but what ends it.
    void commentText(bool line) {
        static const std::string_view pieces[] = {
            " note", " \"selected\": false,", " {", " }", " ]", ",", " // more", " /* inner", " *", " /",
            " かな", " 😀", "\xFF\xFE", "\x80", "\x01\x7F", "\t", " \\", " \"unclosed", " */"};
        for (std::size_t n = r_.below(5); n > 0; --n) {
            std::string_view piece = r_.pick(pieces);
            if (!line && piece == " */") piece = " *";  // would close it early
            out_ += piece;
        }
        if (!line && r_.percent(20)) out_ += newline_ + "  more" + newline_;
        if (!line && r_.percent(20)) out_ += "\r";
    }

    void lineComment() {
        out_ += "//";
        const std::size_t begin = out_.size();
        commentText(true);
        lineComments_.push_back({begin, out_.size()});
        // The reader ends a // comment at a NUL as at a line break, and reads on after it.
        if (r_.percent(25)) out_.push_back('\0');
        else out_ += newline_;
    }

    void blockComment() {
        out_ += "/*";
        commentText(false);
        out_ += r_.percent(20) ? "**/" : "*/";
    }

    // A name, sometimes with ASCII letters written as escapes (not in names written with escapes).
    void name(std::string_view text) {
        const bool plain = text.find('\\') == std::string_view::npos;
        out_.push_back('"');
        for (char c : text) {
            if (plain && static_cast<unsigned char>(c) < 0x80 && r_.percent(4)) {
                static const char hex[] = "0123456789abcdef";
                out_ += "\\u00";
                out_.push_back(hex[(c >> 4) & 0xF]);
                out_.push_back(hex[c & 0xF]);
            } else {
                out_.push_back(c);
            }
        }
        out_.push_back('"');
    }

    void utf8(std::uint32_t cp) {
        if (cp < 0x80) {
            out_.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    void randomString() {
        static const std::string_view words[] = {"a", "caps_lock", "Hyper", " ", "com\\\\.apple", "/", "//", "/*", "*/", "{", "]", ",", "'"};
        static const std::string_view escapes[] = {"\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t", "\\u0000", "\\u001f",
                                                   "\\u00e9", "\\uFFFF", "\\ud83d\\ude00", "\\uDBFF\\uDFFF", "\\uD800\\uDC00", "\\u2028"};
        static const std::uint32_t codePoints[] = {0x7F, 0x80, 0x7FF, 0x800, 0x3042, 0xD7FF, 0xE000, 0xFEFF, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
        out_.push_back('"');
        for (std::size_t n = r_.below(5); n > 0; --n) {
            switch (r_.below(4)) {
            case 0: out_ += r_.pick(words); break;
            case 1: out_ += r_.pick(escapes); break;
            case 2: utf8(r_.pick(codePoints)); break;
            default: {
                static const std::uint32_t from[] = {0x80, 0x800, 0xE000, 0x10000}, to[] = {0x7FF, 0xD7FF, 0xFFFF, 0x10FFFF};
                const std::size_t range = r_.below(4);
                utf8(from[range] + static_cast<std::uint32_t>(r_.below(to[range] - from[range] + 1)));
            }
            }
        }
        out_.push_back('"');
    }

    // Around the largest double: the overflow midpoint cut, nudged and written with its decimal
    // point and exponent in different places; about half of these are infinite for the reader.
    void edgeNumber() {
        std::string digits(doubleOverflowDigits.substr(0, 1 + r_.below(doubleOverflowDigits.size())));
        switch (r_.below(4)) {
        case 0: digits.back() = static_cast<char>('0' + r_.below(10)); break;
        case 1: digits += std::string(1 + r_.below(3), r_.percent(50) ? '0' : '9'); break;
        case 2: digits += std::to_string(r_.below(100)); break;
        default: break;
        }
        if (digits[0] == '0') digits[0] = '1';
        if (r_.percent(50)) out_.push_back('-');
        // digits[0] stands for 10^308; with k digits before the point the exponent is 309 - k.
        const long k = static_cast<long>(r_.below(digits.size() + 2));
        const long leadingZeros = k == 0 ? static_cast<long>(r_.below(4)) : 0;
        if (k == 0) {
            out_ += "0." + std::string(static_cast<std::size_t>(leadingZeros), '0') + digits;
        } else if (static_cast<std::size_t>(k) >= digits.size()) {
            out_ += digits + std::string(static_cast<std::size_t>(k) - digits.size(), '0');
        } else {
            out_ += digits.substr(0, static_cast<std::size_t>(k)) + "." + digits.substr(static_cast<std::size_t>(k));
        }
        const long exponent = 309 - k + leadingZeros;
        if (exponent == 0 && r_.percent(50)) return;
        out_ += r_.percent(50) ? "e" : "E";
        if (exponent >= 0 && r_.percent(30)) out_ += "+";
        out_ += std::to_string(exponent);
    }

    void number() {
        static const std::string_view plain[] = {
            "0", "-0", "1", "-1", "50", "1000", "0.5", "-0.0", "1e2", "1E+2", "2.5e-3", "100.0",
            "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
            "18446744073709551615", "18446744073709551616", "123456789012345678901234567890",
            "1.7976931348623157e308", "-1.7976931348623157e308", "1.7976931348623158e308",
            "2.2250738585072014e-308", "4.9406564584124654e-324", "2.4703282292062327e-324", "1e-400", "0e999999999",
            "0.0000000000001e321", "1e-99999999999"};
        static const std::string_view infinite[] = {"1.7976931348623159e308", "1e309", "-1e309", "0.00001e314", "1e99999999999"};
        if (r_.percent(3)) edgeNumber();
        else if (r_.percent(1)) out_ += r_.pick(infinite);
        else out_ += r_.pick(plain);
    }

    void scalar() {
        switch (r_.below(6)) {
        case 0:
        case 1: randomString(); break;
        case 2:
        case 3: number(); break;
        case 4: out_ += r_.percent(50) ? "true" : "false"; break;
        default: out_ += "null"; break;
        }
    }

    // Arrays and objects around a scalar up to a total depth a few levels either side of the
    // scanner's limit.
    void deepChain(std::size_t depth) {
        const std::size_t target = maxNesting - 5 + r_.below(10);
        std::string closers;
        for (std::size_t d = depth; d < target; ++d) {
            if (r_.percent(50)) {
                out_ += "[";
                closers.push_back(']');
            } else {
                out_ += "{\"k\":";
                closers.push_back('}');
            }
            if (r_.percent(3)) gap();
        }
        scalar();
        out_.append(closers.rbegin(), closers.rend());
    }

    // What a member or element holds; emit() writes it.
    enum class Part { value, flag, number, string, keyCode, global, profiles, profile, selected, complexModifications,
                      parameters, rules, rule, manipulators, manipulator, from, to, deep };
    using Members = std::vector<std::pair<std::string_view, Part>>;

    void emit(Part part, std::size_t depth) {
        // Sometimes what should be an object or array is some other value.
        if ((part == Part::global || part == Part::profiles || part == Part::profile || part == Part::complexModifications ||
             part == Part::rules) &&
            r_.percent(5))
            part = Part::value;
        switch (part) {
        case Part::value: return value(depth);
        case Part::flag: out_ += r_.percent(50) ? "true" : "false"; return;
        case Part::number: return number();
        case Part::string: return randomString();
        case Part::keyCode: return name("caps_lock");
        case Part::global: return object({{"show_in_menu_bar", Part::flag}}, depth);
        case Part::profiles: return array(upTo(3), Part::profile, depth);
        case Part::profile: {
            Members members{{"name", Part::string}};
            if (r_.percent(70)) members.emplace_back("selected", Part::selected);
            if (r_.percent(85)) members.emplace_back("complex_modifications", Part::complexModifications);
            extras(members);
            return object(std::move(members), depth);
        }
        case Part::selected:
            if (r_.percent(90)) out_ += r_.percent(50) ? "true" : "false";
            else value(depth);
            return;
        case Part::complexModifications: {
            Members members;
            if (r_.percent(40)) members.emplace_back("parameters", Part::parameters);
            if (r_.percent(90)) members.emplace_back("rules", Part::rules);
            return object(std::move(members), depth);
        }
        case Part::parameters: return object({{"basic.to_if_alone_timeout_milliseconds", Part::number}}, depth);
        case Part::rules: return array(upTo(3), Part::rule, depth);
        case Part::rule: {
            Members members{{"description", Part::string}, {"manipulators", Part::manipulators}};
            if (r_.percent(20)) members.emplace_back("enabled", Part::flag);
            return object(std::move(members), depth);
        }
        case Part::manipulators: return array(1 + r_.below(2), Part::manipulator, depth);
        case Part::manipulator: {
            Members members{{"type", Part::keyCode}, {"from", Part::from}, {"to", Part::to}};
            extras(members);
            return object(std::move(members), depth);
        }
        case Part::from: return object({{"key_code", Part::keyCode}, {"modifiers", Part::value}}, depth);
        case Part::to: return array(1, Part::value, depth);
        case Part::deep: return deepChain(depth);
        }
    }

    void value(std::size_t depth) {
        if (out_.size() > budget_ || depth > 8 || r_.percent(60)) return scalar();
        if (r_.percent(50)) {
            static const std::string_view names[] = {"a", "key_code", "modifiers", "to", "", "selected", "rules", "\\u0000",
                                                      "\\ud83d\\ude00", "かな", "\\\"/", "\\u00e9"};
            Members members;
            for (std::size_t n = r_.below(4); n > 0; --n) members.emplace_back(r_.pick(names), Part::value);
            object(std::move(members), depth);
        } else {
            array(r_.below(4), Part::value, depth);
        }
    }

    // Members in a shuffled order, sometimes with one name repeated (the reader keeps the last).
    void object(Members members, std::size_t depth) {
        for (std::size_t i = members.size(); i > 1; --i) std::swap(members[i - 1], members[r_.below(i)]);
        if (!members.empty() && r_.percent(12)) {
            const auto repeated = members[r_.below(members.size())];
            members.insert(members.begin() + static_cast<long>(r_.below(members.size() + 1)), repeated);
        }
        out_ += "{";
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i > 0) {
                gap();
                out_ += ",";
            }
            gap();
            name(members[i].first);
            gap();
            out_ += ":";
            gap();
            emit(members[i].second, depth + 1);
        }
        gap();
        out_ += "}";
    }

    void array(std::size_t count, Part element, std::size_t depth) {
        out_ += "[";
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0) {
                gap();
                out_ += ",";
            }
            gap();
            emit(element, depth + 1);
        }
        gap();
        out_ += "]";
    }

    // A count from 0 to `most`, 0 once the document has grown past its budget.
    std::size_t upTo(std::size_t most) { return out_.size() > budget_ ? 0 : r_.below(most + 1); }

    void extras(Members& members) {
        if (deep_ && r_.percent(50)) {
            deep_ = false;
            members.emplace_back("deep", Part::deep);
        }
        static const std::string_view names[] = {"x", "parameters", "devices", "simple_modifications", "fn_function_keys"};
        for (std::size_t n = upTo(2); n > 0; --n) members.emplace_back(r_.pick(names), Part::value);
    }

    void root() {
        Members members{{"global", Part::global}};
        if (r_.percent(95)) members.emplace_back("profiles", Part::profiles);
        extras(members);
        object(std::move(members), 0);
    }

    Random& r_;
    std::size_t budget_;
    std::string out_;
    std::string newline_;
    std::vector<Span> lineComments_;
    unsigned gapPercent_ = 12;
    bool deep_ = false;
};

// One to three changes: bytes flipped or inserted (NUL, '/', '*', ',', quotes, brackets, the byte
// order mark's bytes), a NUL and a member hidden behind it in a // comment, bytes removed, the text
// cut short, a slice repeated (names repeat), the byte order mark added or broken.
inline std::string mutate(Document document, Random& r) {
    std::string& t = document.text;
    static const char interesting[] = {'\0', '/', '*', ',', '"', '\\', '{', '}', '[', ']', ':', '\n', '\r', ' ',
                                       'e', '0', '-', '\xEF', '\xBB', '\xBF', '\x80', '\xFF'};
    auto at = [&](bool inclusive) { return r.below(t.size() + (inclusive ? 1 : 0)); };
    // A place inside a // comment, if the document has one.
    auto inLineComment = [&]() -> std::size_t {
        if (document.lineComments.empty()) return at(true);
        const Span span = document.lineComments[r.below(document.lineComments.size())];
        return std::min(t.size(), span.begin + r.below(span.end - span.begin + 1));
    };
    for (std::size_t n = 1 + r.below(3); n > 0; --n) {
        switch (r.below(10)) {
        case 0:
            if (!t.empty()) t[at(false)] = r.percent(70) ? r.pick(interesting) : static_cast<char>(r.below(256));
            break;
        case 1: t.insert(t.begin() + static_cast<long>(at(true)), r.pick(interesting)); break;
        case 2: t.insert(inLineComment(), 1, '\0'); break;
        case 3: {
            static const std::string_view hidden[] = {
                "\"selected\": false,", "\"selected\": true,", "\"complex_modifications\": {\"rules\": []},",
                "\"rules\": [{\"description\": \"hidden\"}],", "\"profiles\": [],", "}", "]", ",", "\"x\": 1", "{", "// ", "/*", "\n"};
            std::string insertion(1, '\0');
            insertion += r.pick(hidden);
            t.insert(inLineComment(), insertion);
            break;
        }
        case 4:
            if (!t.empty()) t.erase(at(false), 1 + r.below(8));
            break;
        case 5: t.resize(at(true)); break;
        case 6:
            if (!t.empty()) {
                const std::size_t from = at(false), length = 1 + r.below(40);
                const std::string slice = t.substr(from, length);
                t.insert(at(true), slice);
            }
            break;
        case 7: {
            static const std::string_view boms[] = {"\xEF\xBB\xBF", "\xEF\xBB", "\xEF", "\xBB\xBF"};
            if (t.compare(0, 3, "\xEF\xBB\xBF") == 0 && r.percent(50)) t.erase(0, 3);
            else t.insert(r.percent(80) ? 0 : at(true), r.pick(boms));
            break;
        }
        case 8:
            if (!t.empty()) t[at(false)] = static_cast<char>(t[at(false)] ^ (1 << r.below(8)));
            break;
        default: t.insert(inLineComment(), 1, r.percent(50) ? '\r' : '\n'); break;
        }
    }
    return t;
}

enum class Verdict {
    bothAccept,     // and the scanner's navigation finds the reader's values
    bothRefuse,
    deeperThanLimit,  // the reader accepts nesting deeper than the scanner's limit, which refuses it
    readerOnly,     // the reader accepts, the scanner refuses
    scannerOnly,    // the scanner accepts, the reader refuses
    otherDocument,  // both accept, the navigation finds other values than the reader's
};

inline bool isDisagreement(Verdict v) { return v == Verdict::readerOnly || v == Verdict::scannerOnly || v == Verdict::otherDocument; }

inline std::string_view nameOf(Verdict v) {
    switch (v) {
    case Verdict::bothAccept: return "both accept, same values";
    case Verdict::bothRefuse: return "both refuse";
    case Verdict::deeperThanLimit: return "deeper than the scanner's limit (intended)";
    case Verdict::readerOnly: return "DISAGREE: reader accepts, scanner refuses";
    case Verdict::scannerOnly: return "DISAGREE: scanner accepts, reader refuses";
    case Verdict::otherDocument: return "DISAGREE: both accept, different values";
    }
    return "";
}

struct Judgement {
    Verdict verdict = Verdict::bothAccept;
    std::string why;  // for disagreements
};

namespace detail {

inline Json read(std::string_view text) { return Json::parse(text.begin(), text.end(), nullptr, false, true); }

inline std::string readerError(std::string_view text) {
    try {
        const Json accepted = Json::parse(text.begin(), text.end(), nullptr, true, true);
        return "accepted: " + accepted.dump().substr(0, 80);
    } catch (const std::exception& e) {
        return e.what();
    }
}

// What the navigation finds, compared with the reader's tree; empty when they agree. The way down
// to the rules (the document, "profiles", each profile, its "complex_modifications", "rules") is
// followed member by member and element by element, with and without the scan's index; every
// other value's span is read by the reader on its own and compared.
class Navigation {
public:
    Navigation(std::string_view text, const Facts& facts) : t_(text), facts_(facts) {}

    std::string compare(const Json& tree) const {
        const std::size_t start = t_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        if (skipSpace(t_, start) != facts_.top.begin) return "skipSpace from the start stops at " + std::to_string(skipSpace(t_, start));
        const std::size_t after = skipSpace(t_, facts_.top.end);
        if (after != t_.size() && t_[after] != '\0') return "skipSpace after the document stops at " + std::to_string(after);
        if (!commentsFound(facts_.top)) return "hasCommentIn is wrong for the document";
        return check(facts_.top, tree, "the document", Level::root);
    }

private:
    enum class Level { root, profiles, profile, complexModifications, rules, leaf };

    static Level below(Level level, std::string_view name) {
        switch (level) {
        case Level::root: return name == "profiles" ? Level::profiles : Level::leaf;
        case Level::profiles: return Level::profile;
        case Level::profile: return name == "complex_modifications" ? Level::complexModifications : Level::leaf;
        case Level::complexModifications: return name == "rules" ? Level::rules : Level::leaf;
        default: return Level::leaf;
        }
    }

    // A value's span holds exactly that value: no space or comment around it.
    std::string check(Span span, const Json& expected, const std::string& where, Level level) const {
        const std::string_view text = span.of(t_);
        if (text.empty() || std::string_view("{[\"-0123456789tfn").find(text.front()) == std::string_view::npos ||
            std::string_view("}]\"0123456789el").find(text.back()) == std::string_view::npos)
            return where + ": the span is not one value: " + std::string(text.substr(0, 80));
        const bool list = level == Level::profiles || level == Level::rules;
        if (level != Level::leaf && (list ? expected.is_array() : expected.is_object())) {
            if (text.front() != (list ? '[' : '{')) return where + ": the span holds another type than the reader's";
            return list ? array(span, expected, where, level) : object(span, expected, where, level);
        }
        const Json found = read(text);
        if (found.is_discarded() || found != expected)
            return where + ": the span holds " + (found.is_discarded() ? "no value" : found.dump()).substr(0, 200) + ", the reader has " +
                   expected.dump().substr(0, 200);
        if (!commentsFound(span)) return where + ": hasCommentIn is wrong";
        return {};
    }

    // Whether hasCommentIn is right about the span. Comment-free text is plain JSON, which the
    // reader also takes with comments not allowed; text without a '/' has no comment.
    bool commentsFound(Span span) const {
        const std::string_view text = span.of(t_);
        if (text.find('/') == std::string_view::npos) return !hasCommentIn(t_, span);
        return hasCommentIn(t_, span) != Json::accept(text, false);
    }

    // After the last member or element, only space and comments before the closing bracket.
    std::string closes(Span span, std::size_t lastEnd, const std::string& where) const {
        if (skipSpace(t_, lastEnd) != span.end - 1) return where + ": something other than space lies before the closing bracket";
        return {};
    }

    std::string object(Span span, const Json& expected, const std::string& where, Level level) const {
        const auto indexed = members(t_, span.begin, &facts_), plain = members(t_, span.begin);
        if (indexed.size() != plain.size()) return where + ": members with and without the index differ in number";
        std::map<std::string, Span> last;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            if (indexed[i].key.begin != plain[i].key.begin || indexed[i].value.end != plain[i].value.end)
                return where + ": members with and without the index differ";
            last[decodeString(plain[i].key.of(t_))] = plain[i].value;
        }
        if (auto problem = closes(span, plain.empty() ? span.begin + 1 : plain.back().value.end, where); !problem.empty()) return problem;
        if (last.size() != expected.size())
            return where + ": " + std::to_string(last.size()) + " names found, the reader has " + std::to_string(expected.size());
        for (const auto& [name, value] : last) {
            const auto found = expected.find(name);
            if (found == expected.end()) return where + ": the reader has no member " + Json(name).dump();
            const auto chosen = lastMember(t_, plain, name);
            if (!chosen || chosen->value.begin != value.begin) return where + ": lastMember finds another " + Json(name).dump();
            if (auto problem = check(value, *found, where + "." + name, below(level, name)); !problem.empty()) return problem;
        }
        return {};
    }

    std::string array(Span span, const Json& expected, const std::string& where, Level level) const {
        const auto indexed = elements(t_, span.begin, &facts_), plain = elements(t_, span.begin);
        if (indexed.size() != expected.size() || plain.size() != expected.size())
            return where + ": " + std::to_string(plain.size()) + " elements found, the reader has " + std::to_string(expected.size());
        if (auto problem = closes(span, plain.empty() ? span.begin + 1 : plain.back().end, where); !problem.empty()) return problem;
        for (std::size_t i = 0; i < plain.size(); ++i) {
            if (plain[i].end != indexed[i].end) return where + ": elements with and without the index differ";
            if (auto problem = check(plain[i], expected[i], where + "[" + std::to_string(i) + "]", below(level, {})); !problem.empty())
                return problem;
        }
        return {};
    }

    std::string_view t_;
    const Facts& facts_;
};

} // namespace detail

inline Judgement judge(std::string_view text) {
    const Json tree = detail::read(text);
    const bool readerAccepts = !tree.is_discarded();
    auto facts = scan(text);
    Verdict agreed = Verdict::bothAccept;
    if (!facts && facts.error().kind == Problem::Kind::tooDeep) {
        // Only the depth limit may part the two: without it the scanner must agree.
        facts = scan(text, std::numeric_limits<std::size_t>::max());
        agreed = Verdict::deeperThanLimit;
    }
    if (static_cast<bool>(facts) != readerAccepts) {
        if (readerAccepts) return {Verdict::readerOnly, "scanner: " + facts.error().what + " at byte " + std::to_string(facts.error().offset)};
        return {Verdict::scannerOnly, "reader: " + detail::readerError(text)};
    }
    if (!readerAccepts) return {Verdict::bothRefuse, {}};
    if (std::string problem = detail::Navigation(text, *facts).compare(tree); !problem.empty()) return {Verdict::otherDocument, problem};
    return {agreed, {}};
}

// The text with bytes outside printable ASCII written as \xNN, cut to `limit` bytes.
inline std::string printable(std::string_view text, std::size_t limit = 600) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xF]);
        }
    }
    if (text.size() > limit) out += "... (" + std::to_string(text.size()) + " bytes)";
    return out;
}

} // namespace tarvel::jsonc::differential
