#include "Apps/AppRecord.h"

namespace tarvel {

nlohmann::ordered_json toJSON(const AppRecord& record) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["name"] = record.name;
    if (record.bundleId) object["bundleId"] = *record.bundleId;
    if (record.path) object["path"] = *record.path;
    if (record.icon) object["icon"] = *record.icon;
    object["running"] = record.running;
    object["launchable"] = record.launchable;
    return object;
}

nlohmann::ordered_json toJSON(const AppInventoryPayload& payload) {
    auto records = [](const std::vector<AppRecord>& list) {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& record : list) array.push_back(toJSON(record));
        return array;
    };
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["running"] = records(payload.running);
    object["installed"] = records(payload.installed);
    if (payload.installedOmitted > 0) object["installedOmitted"] = payload.installedOmitted;
    object["shortcuts"] = payload.shortcuts;
    if (payload.helperPath) object["helperPath"] = *payload.helperPath;
    return object;
}

std::optional<std::string> encodeJSON(const AppInventoryPayload& payload) {
    try {
        return toJSON(payload).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    } catch (const nlohmann::ordered_json::exception&) {
        return std::nullopt;
    }
}

} // namespace tarvel
