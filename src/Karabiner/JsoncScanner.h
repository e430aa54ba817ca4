#pragma once
// JSON with comments, read the way Karabiner-Elements reads karabiner.json (nlohmann::json with
// comments allowed, trailing commas not), as byte spans in the text: nothing is decoded into a
// tree, so every byte that is not edited can be written back unchanged. Like that reader, a //
// comment ends at a line break or at a NUL byte, and the document goes on after either; any other
// NUL between tokens ends the text (fine only after the document), and one inside a string or a
// /* */ comment is an error. Everything here is iterative; the nesting depth is bounded before
// anything else looks at the text.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Result.h"

namespace tarvel::jsonc {

// [begin, end) in the text.
struct Span {
    std::size_t begin = 0, end = 0;
    std::string_view of(std::string_view text) const { return text.substr(begin, end - begin); }
};

struct Problem {
    enum class Kind { syntax, trailingComma, numberOutOfRange, tooDeep };
    Kind kind = Kind::syntax;
    std::string what;  // English, without the position
    std::size_t offset = 0;
    std::size_t line = 1, column = 1;  // from 1; columns count characters, not bytes
};

// What one pass over valid text found.
struct Facts {
    Span top;                           // the top-level value
    bool hasComments = false;
    // Every object and array sits on one line exactly when Karabiner-Elements would write it so.
    bool laidOutLikeKarabiner = true;
    std::string newline = "\n";         // "\r\n" when the first line ends so
    std::string indentUnit = "    ";    // the white space before the first indented member name
    // The objects and arrays of 256 bytes or more at most `indexedDepth` levels deep (down to the
    // rules of a profile's complex modifications), by position: navigation steps over them without
    // reading them again.
    std::vector<Span> shallowContainers;
};

inline constexpr std::size_t indexedDepth = 6;

inline constexpr std::size_t maxNesting = 256;

// Checks the whole text: syntax, UTF-8 inside strings, escapes, numbers that fit a double,
// nesting no deeper than `maxDepth`. A UTF-8 byte order mark at the start is allowed.
Result<Facts, Problem> scan(std::string_view text, std::size_t maxDepth = maxNesting);

// Line and column (from 1, characters) of a byte offset.
std::pair<std::size_t, std::size_t> lineAndColumn(std::string_view text, std::size_t offset);

// Navigation inside text that scan() accepted.
struct Member {
    Span key;  // the name's string token, quotes included
    Span value;
};
// With the facts of the scan, containers near the top are stepped over at once.
std::size_t skipSpace(std::string_view text, std::size_t pos);  // white space and comments
std::size_t valueEnd(std::string_view text, std::size_t begin, const Facts* facts = nullptr);
std::vector<Member> members(std::string_view text, std::size_t open, const Facts* facts = nullptr);
std::vector<Span> elements(std::string_view text, std::size_t open, const Facts* facts = nullptr);
// The member a reader keeps when a name repeats: the last one.
std::optional<Member> lastMember(std::string_view text, std::size_t open, std::string_view name);
std::optional<Member> lastMember(std::string_view text, const std::vector<Member>& members, std::string_view name);
bool nameIs(std::string_view token, std::string_view name);
// The text of a string token (quotes included) with its escapes resolved.
std::string decodeString(std::string_view token);
// True when a comment lies between begin and end (outside strings).
bool hasCommentIn(std::string_view text, Span span);

} // namespace tarvel::jsonc
