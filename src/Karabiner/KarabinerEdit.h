#pragma once
// Rewrites parts of karabiner.json's text and keeps every other byte: values that do not change
// keep their bytes, new values are laid out as Karabiner-Elements writes them, and the comments and
// blank lines around an array's elements (or an object's members) stay with the element they
// belong to (docs/BRIDGE.md, "Comments around rules").
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Karabiner/JsoncScanner.h"
#include "Platform/Json.h"

namespace tarvel::edit {

using jsonc::Span;

// Text made of pieces: the file's own bytes where they stay, new text where it changes. Nothing as
// large as the file is copied; the pieces go to the new file as they are.
class Pieces {
public:
    // Bytes that outlive the pieces (the file's text).
    void keep(std::string_view bytes) {
        if (!bytes.empty()) views_.push_back(bytes);
    }
    // New text, added at the end.
    void put(std::string text) { keep(store(std::move(text))); }
    // New text to add, once or more, later: the view stays valid as long as the pieces.
    std::string_view store(std::string text) {
        owned_.push_back(std::move(text));
        return owned_.back();
    }
    const std::vector<std::string_view>& views() const { return views_; }
    std::string joined() const;

private:
    std::deque<std::string> owned_;
    std::vector<std::string_view> views_;
};

// What becomes of a value.
struct Target {
    enum class Kind {
        value,     // `value` in its place; the parts equal to the old value keep their bytes
        members,   // an object whose `members` change (by name; a missing one is inserted at its sorted place)
        elements,  // an array whose `elements` change (by index)
        list,      // an array whose elements become `list`, in order
    };
    // One element of a list: the element `source` of the array as read (kept byte for byte when
    // `value` is null, else changed to it where it differs), or new content.
    struct Entry {
        std::optional<std::size_t> source;
        const Json* value = nullptr;
    };

    Kind kind = Kind::value;
    const Json* value = nullptr;
    std::vector<std::pair<std::string, Target>> members;
    std::vector<std::pair<std::size_t, Target>> elements;
    std::vector<Entry> list;

    static Target of(const Json& value) { return {Kind::value, &value, {}, {}, {}}; }
    // The value a target gives where there was nothing (or something of another type) before.
    Json materialized() const;
};

// The text around the items of an array or object, from `[`/`{` to `]`/`}`:
//   [ G0 I0 S0 I1 ... I(n-1) Gn ]
// An item's trailing text is the rest of its last line (after its comma); after the last item,
// everything up to the closing bracket (its `tail` lines). Its leading text is the lines between
// the line before and it (for the first item: after the opening bracket).
struct Surroundings {
    struct Line {
        std::vector<Span> parts;  // the line without its line break and without the comma
        bool comment = false;     // else a blank line
        bool atLineStart = true;  // false for the text after a bracket or an item on the same line
    };
    std::vector<std::vector<Line>> leading;  // per item
    std::vector<Line> trailing;              // per item: one line, possibly blank
    std::vector<Line> tail;                  // after the last item's line
    std::vector<Line> inner;                 // without items: everything between the brackets

    // Whether a comment sits around item `i`.
    bool commented(std::size_t i) const;
};
Surroundings surroundings(std::string_view text, Span container, const std::vector<Span>& items);

// The indices of the items that have a comment around them.
std::vector<std::size_t> commentedItems(std::string_view text, Span container, const std::vector<Span>& items);

// The whole text, its value at `top` rewritten as `target` says. Text that cannot be laid out
// (strings that are not UTF-8, nesting deeper than the formatter allows) throws std::runtime_error.
Pieces rewrite(std::string_view text, const jsonc::Facts& facts, Span top, const Target& target);

// The line break a file uses: that of its first line ("\n", "\r\n" or "\r" alone).
std::string lineBreakOf(std::string_view text);

} // namespace tarvel::edit
