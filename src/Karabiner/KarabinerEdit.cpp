#include "Karabiner/KarabinerEdit.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "Karabiner/KarabinerFormatter.h"

namespace tarvel::edit {

std::string Pieces::joined() const {
    std::string text;
    for (auto view : views_) text.append(view);
    return text;
}

Json Target::materialized() const {
    switch (kind) {
    case Kind::value: return *value;
    case Kind::members: {
        Json object = Json::object();
        for (const auto& [name, child] : members) object[name] = child.materialized();
        return object;
    }
    case Kind::list: {
        Json array = Json::array();
        for (const auto& entry : list)
            if (entry.value) array.push_back(*entry.value);
        return array;
    }
    case Kind::elements: break;
    }
    return Json::array();
}

std::string lineBreakOf(std::string_view text) {
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string_view::npos || text[at] == '\n') return "\n";
    return at + 1 < text.size() && text[at + 1] == '\n' ? "\r\n" : "\r";
}

namespace {

using Line = Surroundings::Line;

bool hasLineBreak(std::string_view text, Span span) {
    const char* begin = text.data() + span.begin;
    const std::size_t size = span.end - span.begin;
    return std::memchr(begin, '\n', size) || std::memchr(begin, '\r', size);
}

enum class Tok { space, lineBreak, comment, comma };
struct Token {
    Tok kind;
    Span span;
};

// The white space, line breaks, comments and comma between two items (or an item and a bracket).
std::vector<Token> tokensOf(std::string_view t, Span gap) {
    std::vector<Token> tokens;
    std::size_t p = gap.begin;
    while (p < gap.end) {
        const char c = t[p];
        std::size_t end = p + 1;
        Tok kind = Tok::comment;  // anything unexpected is kept as a comment would be
        if (c == ' ' || c == '\t') {
            while (end < gap.end && (t[end] == ' ' || t[end] == '\t')) ++end;
            kind = Tok::space;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && end < gap.end && t[end] == '\n') ++end;
            kind = Tok::lineBreak;
        } else if (c == ',') {
            kind = Tok::comma;
        } else if (c == '/' && end < gap.end && t[end] == '*') {
            const std::size_t close = t.find("*/", p + 2);
            end = close == std::string_view::npos ? gap.end : std::min(close + 2, gap.end);
        } else if (c == '/' && end < gap.end && t[end] == '/') {
            // The comment ends where the scanner ends it (at the line's end at the latest).
            std::size_t lineEnd = std::min(t.find_first_of("\r\n", p), gap.end);
            end = std::max(jsonc::skipSpace(t.substr(0, lineEnd), p), p + 2);
            while (end > p + 2 && (t[end - 1] == ' ' || t[end - 1] == '\t')) --end;
        }
        tokens.push_back({kind, {p, end}});
        p = end;
    }
    return tokens;
}

// Tokens [from, to) as lines, split at line breaks and without the comma. Lines without a comment
// are blank; a comment line loses the white space at its end.
std::vector<Line> linesOf(const std::vector<Token>& tokens, std::size_t from, std::size_t to, bool firstAtLineStart) {
    std::vector<Line> lines(1);
    lines[0].atLineStart = firstAtLineStart;
    for (std::size_t i = from; i < to; ++i) {
        const Token& token = tokens[i];
        if (token.kind == Tok::lineBreak) {
            lines.emplace_back();
        } else if (token.kind != Tok::comma) {
            lines.back().parts.push_back(token.span);
            if (token.kind == Tok::comment) lines.back().comment = true;
        }
    }
    for (auto& line : lines)
        if (!line.comment) line.parts.clear();
    return lines;
}

// White space at the end of a comment line goes.
void trimEnd(std::string_view t, Line& line) {
    while (!line.parts.empty()) {
        const std::string_view last = line.parts.back().of(t);
        if (last.find_first_not_of(" \t") != std::string_view::npos) break;
        line.parts.pop_back();
    }
}

// The first line (after a bracket) and the last (the indentation before an item or bracket) go
// when they hold no comment.
std::vector<Line> cleaned(std::string_view t, std::vector<Line> lines, bool dropFirstBlank) {
    if (!lines.empty() && !lines.back().comment) lines.pop_back();
    if (dropFirstBlank && !lines.empty() && !lines.front().comment) lines.erase(lines.begin());
    for (auto& line : lines) trimEnd(t, line);
    return lines;
}

bool anyComment(const std::vector<Line>& lines) {
    return std::any_of(lines.begin(), lines.end(), [](const Line& line) { return line.comment; });
}

void trimBlankEnds(std::vector<Line>& lines, bool front, bool back) {
    while (back && !lines.empty() && !lines.back().comment) lines.pop_back();
    while (front && !lines.empty() && !lines.front().comment) lines.erase(lines.begin());
}

// One item of a composed array or object.
struct Item {
    std::optional<std::size_t> source;  // the item of the text as read
    bool oneLine = true;                // its value is written on one line
    bool container = false;             // its value is an object or an array
    std::function<void(Pieces&, const std::string& indent)> write;
    bool changed = true;                // false: its bytes as read
};

// A value's new text, for the indentation of the line it starts on.
struct Planned {
    bool oneLine = true;
    bool container = false;
    std::function<void(Pieces&, const std::string& indent)> write;
    bool changed = true;
};

class Rewriter {
public:
    Rewriter(std::string_view text, const jsonc::Facts& facts)
        : t_(text), facts_(facts), layout_{facts.indentUnit, lineBreakOf(text)},
          nl_(layout_.newline == "\r\n" ? "\r\n" : layout_.newline == "\r" ? "\r" : "\n"),
          multiLineFile_(text.find_first_of("\r\n") != std::string_view::npos) {}

    Planned plan(Span span, const Target& target, std::string_view name) {
        switch (target.kind) {
        case Target::Kind::value: return planValue(span, parse(span), *target.value, name);
        case Target::Kind::members: return planMembers(span, target, name);
        case Target::Kind::elements: return planElements(span, target, name);
        case Target::Kind::list: return planList(span, target, name);
        }
        return kept(span);
    }

    // The white space that starts the line holding `pos`; at most 256 characters of it, since
    // every new line repeats it.
    std::string lineIndent(std::size_t pos) const {
        std::size_t start = pos == 0 ? std::string_view::npos : t_.find_last_of("\r\n", pos - 1);
        start = start == std::string_view::npos ? 0 : start + 1;
        std::size_t end = start;
        while (end < t_.size() && end - start < 256 && (t_[end] == ' ' || t_[end] == '\t')) ++end;
        return std::string(t_.substr(start, end - start));
    }

private:
    Json parse(Span span) const { return Json::parse(span.of(t_), nullptr, true, true); }

    Planned kept(Span span) const {
        return {!hasLineBreak(t_, span), t_[span.begin] == '{' || t_[span.begin] == '[',
                [this, span](Pieces& out, const std::string&) { out.keep(span.of(t_)); }, false};
    }

    Planned fresh(std::shared_ptr<const Json> value, std::string_view name) const {
        const bool oneLine = karabinerWritesOnOneLine(*value, name);
        return {oneLine, value->is_structured(), [this, value, key = std::string(name)](Pieces& out, const std::string& indent) {
                    auto text = formatLikeKarabiner(*value, indent, layout_, key);
                    if (!text) throw std::runtime_error(text.error().localizedDescription());
                    out.put(std::move(*text));
                }};
    }
    // A value that outlives the rewrite (the target's).
    Planned fresh(const Json& value, std::string_view name) const { return fresh(std::shared_ptr<const Json>(&value, [](const Json*) {}), name); }

    // An element as it is, or rewritten.
    Item element(std::size_t index, Planned planned) const {
        return {index, planned.oneLine, planned.container, std::move(planned.write), planned.changed};
    }
    Item keptElement(std::size_t index, Span span) const { return element(index, kept(span)); }

    // A member of the text, its value as it is or rewritten; the value's lines after the first
    // take the indentation of the line the value starts on.
    Item member(std::size_t index, const jsonc::Member& m, Planned value) const {
        const Span head{m.key.begin, m.value.begin};
        const bool valueOnKeyLine = !hasLineBreak(t_, head);
        const std::string valueIndent = valueOnKeyLine ? std::string() : lineIndent(m.value.begin);
        return {index, value.oneLine, value.container,
                [this, head, valueOnKeyLine, valueIndent, write = std::move(value.write)](Pieces& out, const std::string& indent) {
                    out.keep(head.of(t_));
                    write(out, valueOnKeyLine ? indent : valueIndent);
                },
                value.changed};
    }
    Item keptMember(std::size_t index, const jsonc::Member& m) const { return member(index, m, kept(m.value)); }
    Item newMember(const std::string& name, Planned value) const {
        return {std::nullopt, value.oneLine, value.container,
                [key = Json(name).dump() + ": ", write = std::move(value.write)](Pieces& out, const std::string& indent) {
                    out.put(key);
                    write(out, indent);
                }};
    }

    static std::vector<Span> memberSpans(const std::vector<jsonc::Member>& members) {
        std::vector<Span> spans;
        for (const auto& m : members) spans.push_back({m.key.begin, m.value.end});
        return spans;
    }

    // New members go before the first member of the text whose name sorts after theirs.
    std::vector<Item> merged(const std::vector<jsonc::Member>& members, std::vector<std::optional<Item>> sourceItems,
                             std::vector<std::pair<std::string, Item>> added) const {
        std::sort(added.begin(), added.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> names;
        for (const auto& m : members) names.push_back(jsonc::decodeString(m.key.of(t_)));
        std::vector<Item> items;
        std::size_t next = 0;
        for (std::size_t j = 0; j <= members.size(); ++j) {
            while (next < added.size() && (j == members.size() || names[j] > added[next].first)) items.push_back(std::move(added[next++].second));
            if (j < members.size() && sourceItems[j]) items.push_back(std::move(*sourceItems[j]));
        }
        return items;
    }

    Planned planMembers(Span span, const Target& target, std::string_view name) {
        if (t_[span.begin] != '{') return fresh(std::make_shared<const Json>(target.materialized()), name);
        const auto members = jsonc::members(t_, span.begin, &facts_);
        std::vector<std::optional<Item>> sourceItems(members.size());
        std::vector<const std::pair<std::string, Target>*> targetOf(members.size(), nullptr);
        std::vector<std::pair<std::string, Item>> added;
        for (const auto& child : target.members) {
            std::size_t j = members.size();
            while (j-- > 0 && !jsonc::nameIs(members[j].key.of(t_), child.first)) {}
            if (j < members.size()) targetOf[j] = &child;
            else added.emplace_back(child.first, newMember(child.first, fresh(std::make_shared<const Json>(child.second.materialized()), child.first)));
        }
        for (std::size_t j = 0; j < members.size(); ++j)
            sourceItems[j] = targetOf[j] ? member(j, members[j], plan(members[j].value, targetOf[j]->second, targetOf[j]->first))
                                         : keptMember(j, members[j]);
        return compose(span, true, memberSpans(members), merged(members, std::move(sourceItems), std::move(added)), name);
    }

    Planned planElements(Span span, const Target& target, std::string_view name) {
        if (t_[span.begin] != '[') return kept(span);
        const auto elements = jsonc::elements(t_, span.begin, &facts_);
        std::vector<Item> items;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            auto child = std::find_if(target.elements.begin(), target.elements.end(), [i](const auto& e) { return e.first == i; });
            items.push_back(child == target.elements.end() ? keptElement(i, elements[i]) : element(i, plan(elements[i], child->second, {})));
        }
        return compose(span, false, elements, std::move(items), name);
    }

    Planned planList(Span span, const Target& target, std::string_view name) {
        if (t_[span.begin] != '[') return fresh(std::make_shared<const Json>(target.materialized()), name);
        const auto elements = jsonc::elements(t_, span.begin, &facts_);
        std::vector<Item> items;
        for (const auto& entry : target.list) {
            if (!entry.source) items.push_back({std::nullopt, karabinerWritesOnOneLine(*entry.value), entry.value->is_structured(),
                                                std::move(fresh(*entry.value, {}).write)});
            else if (!entry.value) items.push_back(keptElement(*entry.source, elements.at(*entry.source)));
            else {
                const Span s = elements.at(*entry.source);
                items.push_back(element(*entry.source, planValue(s, parse(s), *entry.value, {})));
            }
        }
        return compose(span, false, elements, std::move(items), name);
    }

    // `dst` in place of the value `src` read at `span`: what is equal keeps its bytes.
    Planned planValue(Span span, const Json& src, const Json& dst, std::string_view name) {
        if (src == dst) return kept(span);
        const char open = t_[span.begin];
        if (open == '{' && dst.is_object()) {
            const auto members = jsonc::members(t_, span.begin, &facts_);
            // Where a name repeats, which member to change is unclear: the value is written anew.
            std::vector<std::string> names;
            for (const auto& m : members) names.push_back(jsonc::decodeString(m.key.of(t_)));
            std::vector<std::string> sorted = names;
            std::sort(sorted.begin(), sorted.end());
            if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return fresh(dst, name);
            std::vector<std::optional<Item>> sourceItems(members.size());
            for (std::size_t j = 0; j < members.size(); ++j) {
                auto it = dst.find(names[j]);
                if (it == dst.end()) continue;  // the member goes
                const Json& old = src.at(names[j]);
                sourceItems[j] = old == *it ? keptMember(j, members[j]) : member(j, members[j], planValue(members[j].value, old, *it, names[j]));
            }
            std::vector<std::pair<std::string, Item>> added;
            for (auto it = dst.begin(); it != dst.end(); ++it)
                if (!src.contains(it.key())) added.emplace_back(it.key(), newMember(it.key(), fresh(it.value(), it.key())));
            return compose(span, true, memberSpans(members), merged(members, std::move(sourceItems), std::move(added)), name);
        }
        if (open == '[' && dst.is_array()) {
            const auto elements = jsonc::elements(t_, span.begin, &facts_);
            const std::size_t n = src.size(), m = dst.size();
            std::size_t prefix = 0, suffix = 0;
            while (prefix < n && prefix < m && src[prefix] == dst[prefix]) ++prefix;
            while (suffix < n - prefix && suffix < m - prefix && src[n - 1 - suffix] == dst[m - 1 - suffix]) ++suffix;
            std::vector<Item> items;
            for (std::size_t i = 0; i < prefix; ++i) items.push_back(keptElement(i, elements[i]));
            // Between the equal ends: changed elements in place, then new ones; old ones left over go.
            const std::size_t paired = std::min(n - prefix - suffix, m - prefix - suffix);
            for (std::size_t i = prefix; i < prefix + paired; ++i)
                items.push_back(element(i, planValue(elements[i], src[i], dst[i], {})));
            for (std::size_t i = prefix + paired; i < m - suffix; ++i) items.push_back({std::nullopt, karabinerWritesOnOneLine(dst[i]),
                                                                                        dst[i].is_structured(), std::move(fresh(dst[i], {}).write)});
            for (std::size_t i = n - suffix; i < n; ++i) items.push_back(keptElement(i, elements[i]));
            return compose(span, false, elements, std::move(items), name);
        }
        return fresh(dst, name);
    }

    struct Composition {
        Span span;
        bool object = false;
        std::vector<Span> items;
        std::vector<Item> entries;
        Surroundings around;
        std::vector<std::vector<Line>> extraLead, extraTail;  // comments of items that go
        std::vector<Line> head;                               // when no item of the text stays
        bool multi = false, verbatim = false, relayout = false;
    };

    // An array or object of `entries`, in place of the one at `span` whose items were `items`.
    // Where two entries follow each other as they did in the text, the text between them stays
    // as it was; elsewhere items are laid out one a line (or on one line), each with its comments.
    Planned compose(Span span, bool object, std::vector<Span> items, std::vector<Item> entries, std::string_view name) {
        auto c = std::make_shared<Composition>();
        c->span = span;
        c->object = object;
        c->items = std::move(items);
        c->entries = std::move(entries);
        const std::size_t n = c->items.size(), m = c->entries.size();
        // Nothing changed: the bytes as they are.
        bool same = m == n;
        for (std::size_t k = 0; same && k < m; ++k) same = c->entries[k].source == k && !c->entries[k].changed;
        if (same) return kept(span);

        // How Karabiner-Elements would lay the new value out.
        bool karabinerOneLine;
        if (m == 0) karabinerOneLine = true;
        else if (!object && alwaysMultiLineArrayKey(name)) karabinerOneLine = false;
        else if (m == 1) karabinerOneLine = c->entries[0].oneLine;
        else karabinerOneLine = !object && std::none_of(c->entries.begin(), c->entries.end(), [](const Item& e) { return e.container; });
        const bool inserted = std::any_of(c->entries.begin(), c->entries.end(), [](const Item& e) { return !e.source; });
        const bool sourceMulti = hasLineBreak(t_, span);
        // A container that stood on one line is spread over lines when it no longer fits on one; in
        // a file laid out as Karabiner-Elements lays it out, one that would now fit on one line is
        // drawn together. One with comments inside stays as it is laid out.
        bool relayout = sourceMulti ? facts_.laidOutLikeKarabiner && karabinerOneLine : (!karabinerOneLine || inserted) && multiLineFile_;
        if (relayout && jsonc::hasCommentIn(t_, span)) relayout = false;
        c->relayout = relayout;
        c->multi = relayout ? !karabinerOneLine : sourceMulti;

        c->around = surroundings(t_, span, c->items);
        c->extraLead.resize(n);
        c->extraTail.resize(n);
        std::vector<char> stays(n, 0);
        for (const auto& e : c->entries)
            if (e.source) stays[*e.source] = 1;
        for (std::size_t d = 0; d < n; ++d) {
            if (stays[d]) continue;
            std::vector<Line> block = c->around.leading[d];
            if (c->around.trailing[d].comment) block.push_back(c->around.trailing[d]);
            if (d + 1 == n) block.insert(block.end(), c->around.tail.begin(), c->around.tail.end());
            trimBlankEnds(block, true, true);
            if (block.empty()) continue;
            std::size_t j = d + 1;
            while (j < n && !stays[j]) ++j;
            if (j < n) {
                c->extraLead[j].insert(c->extraLead[j].end(), block.begin(), block.end());
                continue;
            }
            j = d;
            while (j-- > 0 && !stays[j]) {}
            if (j < n) c->extraTail[j].insert(c->extraTail[j].end(), block.begin(), block.end());
            else c->head.insert(c->head.end(), block.begin(), block.end());
        }
        if (n == 0) {
            c->head = c->around.inner;
            trimBlankEnds(c->head, true, true);
        }

        c->verbatim = !c->relayout && c->multi == sourceMulti;
        if (!c->multi && commentsToLayOut(*c)) {
            c->multi = true;
            c->verbatim = !c->relayout && sourceMulti;
        }
        const bool oneLine = !c->multi && std::all_of(c->entries.begin(), c->entries.end(), [](const Item& e) { return e.oneLine; });
        return {oneLine, true, [this, c](Pieces& out, const std::string& indent) { writeComposed(out, *c, indent); }};
    }

    bool adjacentBefore(const Composition& c, std::size_t k) const {
        const auto& source = c.entries[k].source;
        if (!c.verbatim || !source) return false;
        if (k == 0) return *source == 0;
        const auto& before = c.entries[k - 1].source;
        return before && *before + 1 == *source;
    }
    bool adjacentAfter(const Composition& c, std::size_t k) const {
        if (k + 1 < c.entries.size()) return adjacentBefore(c, k + 1);
        const auto& source = c.entries[k].source;
        return c.verbatim && source && *source + 1 == c.items.size();
    }

    std::vector<Line> leadOf(const Composition& c, std::size_t k) const {
        std::vector<Line> lines;
        if (k == 0) lines = c.head;
        if (const auto& source = c.entries[k].source) {
            lines.insert(lines.end(), c.extraLead[*source].begin(), c.extraLead[*source].end());
            lines.insert(lines.end(), c.around.leading[*source].begin(), c.around.leading[*source].end());
        }
        trimBlankEnds(lines, k == 0, false);
        return lines;
    }
    std::vector<Line> tailOf(const Composition& c, std::size_t k) const {
        std::vector<Line> lines;
        if (const auto& source = c.entries[k].source) {
            if (*source + 1 == c.items.size()) lines = c.around.tail;
            lines.insert(lines.end(), c.extraTail[*source].begin(), c.extraTail[*source].end());
        }
        trimBlankEnds(lines, false, true);
        return lines;
    }

    // Whether comments must be laid out anew (they need lines of their own).
    bool commentsToLayOut(const Composition& c) const {
        if (c.entries.empty()) return anyComment(c.head) && !(c.verbatim && c.items.empty());
        for (std::size_t k = 0; k < c.entries.size(); ++k) {
            if (!adjacentBefore(c, k) && anyComment(leadOf(c, k))) return true;
            const auto& source = c.entries[k].source;
            if (!adjacentAfter(c, k) && ((source && c.around.trailing[*source].comment) || anyComment(tailOf(c, k)))) return true;
        }
        return false;
    }

    void writeLine(Pieces& out, const Line& line, const std::string& indent) const {
        if (!line.comment) return;
        std::size_t first = 0;
        if (!line.atLineStart) {
            out.put(indent);
            while (first < line.parts.size() && line.parts[first].of(t_).find_first_not_of(" \t") == std::string_view::npos) ++first;
        }
        for (std::size_t i = first; i < line.parts.size(); ++i) out.keep(line.parts[i].of(t_));
    }

    void writeComposed(Pieces& out, const Composition& c, const std::string& indent) const {
        const std::size_t n = c.items.size(), m = c.entries.size();
        const std::string_view nl = nl_;
        const char open = c.object ? '{' : '[', close = c.object ? '}' : ']';
        if (m == 0 && c.verbatim && n == 0) return out.keep(c.span.of(t_));
        // Items go one a line at the indentation of the text's first item when it starts a line.
        std::string inner = indent + layout_.indentUnit;
        if (n > 0) {
            const std::size_t lineStart = t_.find_last_of("\r\n", c.items[0].begin - 1);
            if (lineStart != std::string_view::npos && lineStart > c.span.begin &&
                t_.substr(lineStart + 1, c.items[0].begin - lineStart - 1).find_first_not_of(" \t") == std::string_view::npos)
                inner = lineIndent(c.items[0].begin);
        }
        if (m == 0) {
            if (c.head.empty()) return out.put({open, close});
            out.put({open});
            for (const auto& line : c.head) {
                out.keep(nl);
                writeLine(out, line, inner);
            }
            out.keep(nl);
            out.put(indent + close);
            return;
        }
        // On one line: the text's own spacing where it has one.
        std::string openGap = c.object ? " " : "", closeGap = c.object ? " " : "", separator = ", ";
        if (!c.multi && !c.relayout && n > 0) {
            const auto whiteOnly = [&](Span s) { return s.of(t_).find_first_not_of(" \t") == std::string_view::npos; };
            const Span before{c.span.begin + 1, c.items[0].begin}, after{c.items[n - 1].end, c.span.end - 1};
            if (whiteOnly(before)) openGap = std::string(before.of(t_));
            if (whiteOnly(after)) closeGap = std::string(after.of(t_));
            if (n > 1) {
                const std::string_view between = Span{c.items[0].end, c.items[1].begin}.of(t_);
                if (!between.empty() && between[0] == ',' && between.find_first_not_of(" ", 1) == std::string_view::npos)
                    separator = std::string(between);
            }
        }
        out.put({open});
        for (std::size_t k = 0; k < m; ++k) {
            const Item& e = c.entries[k];
            if (adjacentBefore(c, k)) {
                const std::size_t from = k == 0 ? c.span.begin + 1 : c.items[*e.source - 1].end;
                out.keep(Span{from, c.items[*e.source].begin}.of(t_));
            } else {
                if (k > 0) out.put(",");
                if (k > 0 && c.multi) afterItem(out, c, k - 1, inner);
                if (c.multi) {
                    for (const auto& line : leadOf(c, k)) {
                        out.keep(nl);
                        writeLine(out, line, inner);
                    }
                    out.keep(nl);
                    out.put(inner);
                } else {
                    out.put(k == 0 ? openGap : separator.substr(1));
                }
            }
            const bool inPlace = adjacentBefore(c, k);
            e.write(out, !c.multi ? indent : inPlace ? lineIndent(c.items[*e.source].begin) : inner);
        }
        if (adjacentAfter(c, m - 1)) {
            out.keep(Span{c.items[n - 1].end, c.span.end - 1}.of(t_));
        } else if (c.multi) {
            afterItem(out, c, m - 1, inner);
            out.keep(nl);
            out.put(indent);
        } else {
            out.put(closeGap);
        }
        out.put({close});
    }

    // The rest of an item's line and the comment lines that follow it.
    void afterItem(Pieces& out, const Composition& c, std::size_t k, const std::string& inner) const {
        const auto& source = c.entries[k].source;
        if (source && c.around.trailing[*source].comment)
            for (const auto& part : c.around.trailing[*source].parts) out.keep(part.of(t_));
        for (const auto& line : tailOf(c, k)) {
            out.keep(nl_);
            writeLine(out, line, inner);
        }
    }

    std::string_view t_;
    const jsonc::Facts& facts_;
    KarabinerLayout layout_;
    std::string_view nl_;  // a literal: the pieces outlive the rewriter
    bool multiLineFile_;
};

} // namespace

bool Surroundings::commented(std::size_t i) const {
    if (anyComment(leading.at(i)) || trailing.at(i).comment) return true;
    return i + 1 == trailing.size() && anyComment(tail);
}

Surroundings surroundings(std::string_view text, Span container, const std::vector<Span>& items) {
    Surroundings s;
    const std::size_t n = items.size();
    const std::size_t open = container.begin, close = container.end - 1;
    if (n == 0) {
        const auto tokens = tokensOf(text, {open + 1, close});
        s.inner = cleaned(text, linesOf(tokens, 0, tokens.size(), false), true);
        return s;
    }
    s.leading.resize(n);
    s.trailing.resize(n);
    {
        const auto tokens = tokensOf(text, {open + 1, items[0].begin});
        s.leading[0] = cleaned(text, linesOf(tokens, 0, tokens.size(), false), true);
    }
    for (std::size_t k = 1; k <= n; ++k) {
        const Span gap{items[k - 1].end, k < n ? items[k].begin : close};
        const auto tokens = tokensOf(text, gap);
        std::size_t lineBreak = 0;
        while (lineBreak < tokens.size() && tokens[lineBreak].kind != Tok::lineBreak) ++lineBreak;
        Line trailing = linesOf(tokens, 0, lineBreak, false)[0];
        trimEnd(text, trailing);
        s.trailing[k - 1] = trailing;
        if (lineBreak == tokens.size()) continue;
        auto after = cleaned(text, linesOf(tokens, lineBreak + 1, tokens.size(), true), false);
        if (k < n) s.leading[k] = std::move(after);
        else s.tail = std::move(after);
    }
    return s;
}

std::vector<std::size_t> commentedItems(std::string_view text, Span container, const std::vector<Span>& items) {
    std::vector<std::size_t> indices;
    if (!jsonc::hasCommentIn(text, {container.begin, container.end})) return indices;
    const auto around = surroundings(text, container, items);
    for (std::size_t i = 0; i < items.size(); ++i)
        if (around.commented(i)) indices.push_back(i);
    return indices;
}

Pieces rewrite(std::string_view text, const jsonc::Facts& facts, Span top, const Target& target) {
    Rewriter rewriter(text, facts);
    Planned planned = rewriter.plan(top, target, {});
    Pieces out;
    out.keep(text.substr(0, top.begin));
    planned.write(out, rewriter.lineIndent(top.begin));
    out.keep(text.substr(top.end));
    return out;
}

} // namespace tarvel::edit
