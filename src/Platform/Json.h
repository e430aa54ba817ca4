#pragma once
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

#include "Platform/Error.h"
#include "Platform/Result.h"

namespace tarvel {

// Object keys are kept sorted, as Karabiner-Elements keeps them when it writes its own file.
using Json = nlohmann::json;

// Reads a JSON document the way the platform's reader does: the top level must be an object or an
// array. The error text is the parser's, with line and column.
Result<Json, Error> parseJSONDocument(std::string_view text);

// 4-space indentation, sorted keys, UTF-8 left unescaped, final line feed.
Result<std::string, Error> serializePretty(const Json& value);

// One line, no insignificant white space.
Result<std::string, Error> serializeCompact(const Json& value);

// The deepest nesting of arrays and objects in JSON text (0 for a scalar), found without recursion
// so that untrusted text cannot exhaust the stack. Brackets inside strings do not count; the text
// need not be valid.
std::size_t jsonNestingDepth(std::string_view text) noexcept;

// JSON text made safe to embed in a script as an expression: U+2028 and U+2029, which older
// script engines do not accept inside string literals, are written as escapes. Outside strings,
// JSON text is ASCII, so only string contents change.
std::string escapeLineTerminatorsForScript(std::string_view jsonText);

} // namespace tarvel
