#include "Platform/Text.h"
#include "Web/BridgeMessages.h"

namespace tarvel::bridge {

std::string inventoryAnswer(const Services& services) {
    std::optional<std::string> text;
    try {
        text = encodeJSON(services.collectInventory ? services.collectInventory() : AppInventoryPayload{});
    } catch (const std::exception&) {
        text.reset();
    }
    if (!text || !isValidUTF8(*text)) return "null";
    return std::move(*text);
}

} // namespace tarvel::bridge
