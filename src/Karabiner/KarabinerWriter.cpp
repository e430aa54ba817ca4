#include "Karabiner/KarabinerWriter.h"

#include <ctime>

#include "Platform/FileIO.h"

namespace tarvel {

namespace fs = std::filesystem;

KarabinerWriterError KarabinerWriterError::configNotFound(fs::path configURL) {
    return {Kind::configNotFound, std::move(configURL), {}};
}
KarabinerWriterError KarabinerWriterError::backupFailed(Error underlying) {
    return {Kind::backupFailed, {}, std::move(underlying)};
}
KarabinerWriterError KarabinerWriterError::writeFailed(Error underlying) {
    return {Kind::writeFailed, {}, std::move(underlying)};
}
KarabinerWriterError KarabinerWriterError::invalidJSON() { return {Kind::invalidJSON, {}, {}}; }
KarabinerWriterError KarabinerWriterError::noProfiles() { return {Kind::noProfiles, {}, {}}; }

std::string KarabinerWriterError::errorDescription() const {
    switch (kind_) {
    case Kind::configNotFound: return "karabiner.json not found at " + configURL_.string();
    case Kind::backupFailed: return "could not back up karabiner.json: " + underlying_.localizedDescription();
    case Kind::writeFailed: return "could not write karabiner.json: " + underlying_.localizedDescription();
    case Kind::invalidJSON: return "karabiner.json is not valid JSON";
    case Kind::noProfiles: return "karabiner.json has no profiles";
    }
    return {};
}

std::string localizedDescription(const KarabinerApplyError& error) {
    if (const auto* own = std::get_if<KarabinerWriterError>(&error)) return own->errorDescription();
    return std::get<Error>(error).localizedDescription();
}

namespace {

// Local time, 24-hour clock: "yyyyMMdd-HHmmss".
std::string currentStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

bool isProfileList(const Json& profiles) {
    if (!profiles.is_array() || profiles.empty()) return false;
    for (const auto& profile : profiles)
        if (!profile.is_object()) return false;
    return true;
}

std::size_t selectedProfileIndex(const Json& profiles) {
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        auto selected = profiles[i].find("selected");
        if (selected != profiles[i].end() && selected->is_boolean() && selected->get<bool>()) return i;
    }
    return 0;
}

} // namespace

Result<fs::path, KarabinerWriterError> KarabinerWriter::backup(const fs::path& configURL, FileManager& fileManager) {
    const fs::path folder = configURL.parent_path();
    const std::string stem = std::string(backupPrefix) + currentStamp();
    // A second backup within the same second gets the next free name: replacing the first one
    // could throw away the only copy of the rules from before the first apply.
    fs::path location = folder / (stem + ".json");
    for (int counter = 2; fileManager.fileExists(location) || fs::is_symlink(location); ++counter)
        location = folder / (stem + "-" + std::to_string(counter) + ".json");

    if (auto error = fileManager.copyItem(configURL, location)) return unexpected(KarabinerWriterError::backupFailed(*error));
    return location;
}

Result<KarabinerApplyResult, KarabinerApplyError> KarabinerWriter::apply(std::string_view title, const Json& manipulators,
                                                                        const fs::path& configURL, FileManager& fileManager) {
    using Failure = KarabinerApplyError;
    if (!fileManager.fileExists(configURL))
        return unexpected(Failure(KarabinerWriterError::configNotFound(configURL)));

    auto bytes = readWholeFile(configURL);
    if (!bytes) return unexpected(Failure(bytes.error()));

    auto parsed = parseJSONDocument(*bytes);
    if (!parsed) return unexpected(Failure(parsed.error()));
    Json& root = *parsed;
    if (!root.is_object()) return unexpected(Failure(KarabinerWriterError::invalidJSON()));

    auto profiles = root.find("profiles");
    if (profiles == root.end() || !isProfileList(*profiles))
        return unexpected(Failure(KarabinerWriterError::noProfiles()));
    Json& profile = (*profiles)[selectedProfileIndex(*profiles)];

    auto backupURL = backup(configURL, fileManager);
    if (!backupURL) return unexpected(Failure(backupURL.error()));

    Json rules = Json::array();
    if (!manipulators.empty())
        rules.push_back(Json{{"description", std::string(ruleTitleMarker) + std::string(title)}, {"manipulators", manipulators}});

    auto complex = profile.find("complex_modifications");
    if (complex == profile.end() || !complex->is_object()) profile["complex_modifications"] = Json::object();
    profile["complex_modifications"]["rules"] = std::move(rules);

    auto text = serializePretty(root);
    if (!text) return unexpected(Failure(KarabinerWriterError::writeFailed(text.error())));
    if (auto error = writeFileAtomically(configURL, *text))
        return unexpected(Failure(KarabinerWriterError::writeFailed(*error)));

    return KarabinerApplyResult{std::move(*backupURL)};
}

} // namespace tarvel
