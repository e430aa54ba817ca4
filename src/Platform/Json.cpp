#include "Platform/Json.h"

#include <algorithm>

namespace tarvel {

namespace {

// nlohmann prefixes its messages with "[json.exception.parse_error.101] "; the user needs the rest.
std::string withoutExceptionTag(const std::string& message) {
    if (message.rfind("[json.exception.", 0) == 0) {
        auto end = message.find("] ");
        if (end != std::string::npos) return message.substr(end + 2);
    }
    return message;
}

// Line and column (both from 1) of the first character that is not JSON white space.
std::pair<std::size_t, std::size_t> firstValuePosition(std::string_view text) {
    std::size_t line = 1, column = 1;
    for (char c : text) {
        if (c == '\n') {
            ++line;
            column = 1;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++column;
        } else {
            break;
        }
    }
    return {line, column};
}

} // namespace

Result<Json, Error> parseJSONDocument(std::string_view text) {
    Json value;
    try {
        value = Json::parse(text);
    } catch (const Json::exception& e) {
        return unexpected(Error{withoutExceptionTag(e.what()), e.id});
    }
    if (!value.is_object() && !value.is_array()) {
        auto [line, column] = firstValuePosition(text);
        return unexpected(Error{"parse error at line " + std::to_string(line) + ", column " + std::to_string(column) +
                                    ": JSON text did not start with array or object",
                                101});
    }
    return value;
}

std::size_t jsonNestingDepth(std::string_view text) noexcept {
    std::size_t depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

Result<std::string, Error> serializePretty(const Json& value) {
    try {
        std::string text = value.dump(4, ' ', false, Json::error_handler_t::strict);
        text.push_back('\n');
        return text;
    } catch (const Json::exception& e) {
        return unexpected(Error{withoutExceptionTag(e.what()), e.id});
    }
}

Result<std::string, Error> serializeCompact(const Json& value) {
    try {
        return value.dump(-1, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception& e) {
        return unexpected(Error{withoutExceptionTag(e.what()), e.id});
    }
}

std::string escapeLineTerminatorsForScript(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) == 0xE2 && i + 2 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

} // namespace tarvel
