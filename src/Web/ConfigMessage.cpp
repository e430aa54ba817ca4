#include "Karabiner/KarabinerConfig.h"
#include "Web/BridgeMessages.h"

namespace tarvel::bridge {

namespace {

Json backupJSON(const KarabinerBackupView& backup) {
    Json value = {{"name", backup.name}, {"path", backup.path.string()}, {"modified", backup.modified}, {"size", backup.size}};
    if (backup.rules) value["rules"] = *backup.rules;
    if (backup.error) value["error"] = *backup.error;
    return value;
}

std::string answer(const Services& services) {
    auto config = KarabinerConfigReader::read(configurationPath(services), *services.fileManager);
    if (!config) {
        const auto& error = config.error();
        return outcomeText(false, localizedDescription(error), std::nullopt, errorCode(error), errorPosition(error));
    }
    Json profiles = Json::array();
    for (auto& profile : config->profiles)
        profiles.push_back({{"name", std::move(profile.name)},
                            {"selected", profile.selected},
                            {"rules", std::move(profile.rules)},
                            {"commentedRules", std::move(profile.commentedRules)},
                            {"devices", std::move(profile.devices)},
                            {"simpleModifications", std::move(profile.simpleModifications)},
                            {"fnFunctionKeys", std::move(profile.fnFunctionKeys)},
                            {"parameters", std::move(profile.parameters)},
                            {"deviceSettings", std::move(profile.deviceSettings)},
                            {"keyboardType", std::move(profile.keyboardType)}});
    Json backups = Json::array();
    for (const auto& backup : config->backups) backups.push_back(backupJSON(backup));
    Json value = {{"ok", true},
                  {"path", config->path.string()},
                  {"digest", config->digest},
                  {"hasComments", config->hasComments},
                  {"profiles", std::move(profiles)},
                  {"backups", std::move(backups)}};
    // A path that is not UTF-8 is shown with replacement characters rather than left unanswered.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string configAnswer(const Services& services) {
    try {
        return answer(services);
    } catch (const std::exception& e) {
        return outcomeText(false, std::string("could not read karabiner.json: ") + e.what(), std::nullopt);
    }
}

} // namespace tarvel::bridge
