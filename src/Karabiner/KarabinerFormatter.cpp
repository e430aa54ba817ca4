#include "Karabiner/KarabinerFormatter.h"

#include <stdexcept>

namespace tarvel {

namespace {

constexpr std::size_t maxDepth = 256;

class Formatter {
public:
    Formatter(std::string& out, const KarabinerLayout& layout) : out_(out), layout_(layout) {}

    void format(const Json& value, std::string_view name, std::string& indent, std::size_t depth) {
        if (depth > maxDepth) throw std::length_error("nested deeper than 256 levels");
        if (!value.is_object() && !value.is_array()) {
            out_ += value.dump(-1, ' ', false, Json::error_handler_t::strict);
            return;
        }
        const bool object = value.is_object();
        const char open = object ? '{' : '[', close = object ? '}' : ']';
        if (karabinerWritesOnOneLine(value, name)) {
            // Nothing inside breaks a line, so the indentation passed down is never written.
            if (value.empty()) {
                out_ += open;
                out_ += close;
            } else if (object) {
                out_ += "{ ";
                member(value.begin().key(), value.begin().value(), indent, depth);
                out_ += " }";
            } else {
                out_ += '[';
                bool first = true;
                for (const auto& element : value) {
                    if (!first) out_ += ", ";
                    first = false;
                    format(element, {}, indent, depth + 1);
                }
                out_ += ']';
            }
            return;
        }
        out_ += open;
        out_ += layout_.newline;
        const std::size_t outer = indent.size();
        indent += layout_.indentUnit;
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first) {
                out_ += ',';
                out_ += layout_.newline;
            }
            first = false;
            out_ += indent;
            if (object) member(it.key(), it.value(), indent, depth);
            else format(*it, {}, indent, depth + 1);
        }
        indent.resize(outer);
        // An empty array under an always-spread name keeps its empty line, as Karabiner-Elements writes it.
        out_ += layout_.newline;
        out_ += indent;
        out_ += close;
    }

private:
    void member(const std::string& key, const Json& value, std::string& indent, std::size_t depth) {
        out_ += Json(key).dump(-1, ' ', false, Json::error_handler_t::strict);
        out_ += ": ";
        format(value, key, indent, depth + 1);
    }

    std::string& out_;
    const KarabinerLayout& layout_;
};

} // namespace

bool alwaysMultiLineArrayKey(std::string_view name) noexcept {
    return name == "bundle_identifiers" || name == "description_notes" || name == "game_pad_stick_horizontal_wheel_formula" ||
           name == "game_pad_stick_vertical_wheel_formula" || name == "game_pad_stick_x_formula" ||
           name == "game_pad_stick_y_formula";
}

bool karabinerWritesOnOneLine(const Json& value, std::string_view name) {
    // A chain of single members is followed down without recursion.
    const Json* current = &value;
    std::string_view currentName = name;
    for (;;) {
        if (current->is_object()) {
            if (current->size() != 1) return current->empty();
            currentName = current->begin().key();
            current = &current->begin().value();
        } else if (current->is_array()) {
            if (alwaysMultiLineArrayKey(currentName)) return false;
            if (current->size() >= 2) {
                for (const auto& element : *current)
                    if (element.is_object() || element.is_array()) return false;
                return true;
            }
            if (current->empty()) return true;
            currentName = {};
            current = &(*current)[0];
        } else {
            return true;
        }
    }
}

Result<std::string, Error> formatLikeKarabiner(const Json& value, std::string_view indent, const KarabinerLayout& layout,
                                               std::string_view name) {
    std::string out;
    std::string currentIndent(indent);
    try {
        Formatter(out, layout).format(value, name, currentIndent, 1);
    } catch (const Json::exception& e) {
        return unexpected(Error{e.what(), e.id});
    } catch (const std::length_error& e) {
        return unexpected(Error{e.what(), 0});
    }
    return out;
}

} // namespace tarvel
