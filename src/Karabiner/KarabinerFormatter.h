#pragma once
// JSON text laid out as Karabiner-Elements (15.0 and later) writes karabiner.json: four spaces a
// level, keys sorted, no final line feed, and line breaks decided by structure, never by width:
// an empty object or array, an object with one member whose value fits on one line, an array of
// one value that fits on one line and an array of two or more values none of which is an object
// or an array are written on one line ("{ "key": 1 }", "[1, 2]"); everything else spreads over
// lines. The arrays under a few names are always spread.
#include <string>
#include <string_view>

#include "Platform/Error.h"
#include "Platform/Json.h"
#include "Platform/Result.h"

namespace tarvel {

struct KarabinerLayout {
    std::string indentUnit = "    ";
    std::string newline = "\n";
};

// The names whose arrays Karabiner-Elements always spreads over lines.
bool alwaysMultiLineArrayKey(std::string_view name) noexcept;

// Whether Karabiner-Elements writes `value`, found under the member `name` (empty inside an
// array), on one line.
bool karabinerWritesOnOneLine(const Json& value, std::string_view name = {});

// `value` laid out as Karabiner-Elements writes it. Lines after the first start with `indent`, the
// indentation of the line on which the value starts. Text that is not UTF-8 and nesting deeper
// than 256 levels fail.
Result<std::string, Error> formatLikeKarabiner(const Json& value, std::string_view indent = {},
                                               const KarabinerLayout& layout = {}, std::string_view name = {});

} // namespace tarvel
