#pragma once
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace tarvel {

// One application of the inventory, as the editor page receives it.
struct AppRecord {
    std::string name;
    std::optional<std::string> bundleId;
    std::optional<std::string> path;
    std::optional<std::string> icon;  // "data:image/png;base64,..."
    bool running = false;
    bool launchable = false;

    bool operator==(const AppRecord&) const = default;
};

// The whole inventory answer.
struct AppInventoryPayload {
    std::vector<AppRecord> running;
    std::vector<AppRecord> installed;
    std::size_t installedOmitted = 0;  // installed applications beyond the limit, not listed
    std::vector<std::string> shortcuts;
    std::optional<std::string> helperPath;
};

// The page's JSON form: members in the order above, absent values left out (never null, never "";
// "installedOmitted" only when it is not 0).
nlohmann::ordered_json toJSON(const AppRecord& record);
nlohmann::ordered_json toJSON(const AppInventoryPayload& payload);

// Compact UTF-8 JSON text, or none when it cannot be encoded (a string that is not UTF-8).
std::optional<std::string> encodeJSON(const AppInventoryPayload& payload);

} // namespace tarvel
