#include "Apps/AppInventory.h"

#include <algorithm>
#include <unordered_set>

#include "Platform/ChildProcess.h"
#include "Platform/Text.h"

namespace tarvel {

namespace fs = std::filesystem;

namespace {

// After the last dot of the last component; empty when there is none.
std::string pathExtension(const fs::path& path) {
    const std::string name = path.filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

template <class T, class Name>
void sortByName(std::vector<T>& items, const NameCollation& collation, Name name) {
    std::stable_sort(items.begin(), items.end(),
                     [&](const T& a, const T& b) { return collation.compare(name(a), name(b)) < 0; });
}

// The platform's whitespace set: horizontal tab and the Unicode space separators (category Zs).
bool isWhitespace(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    return 2;
}

// The code point at `at` of well-formed UTF-8.
char32_t decodeAt(std::string_view text, std::size_t at, std::size_t length) {
    auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[at + k])); };
    switch (length) {
    case 1: return byte(0);
    case 2: return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3: return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    default: return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    }
}

// The drawing time one inventory has left for icons.
class IconBudget {
public:
    explicit IconBudget(std::chrono::milliseconds budget) : left_(budget) {}
    std::optional<std::string> dataURI(const IconImage* image) {
        if (!image || left_ <= std::chrono::steady_clock::duration::zero()) return std::nullopt;
        const auto start = std::chrono::steady_clock::now();
        auto uri = AppInventory::iconDataURI(image, AppInventory::iconSide);
        left_ -= std::chrono::steady_clock::now() - start;
        return uri;
    }

private:
    std::chrono::steady_clock::duration left_;
};

std::vector<AppRecord> installedRecords(const AppInventory::Services& services, IconBudget& icons, std::size_t* omitted);
std::vector<AppRecord> runningRecords(const AppInventory::Services& services, IconBudget& icons);

} // namespace

std::string AppInventory::removingNameFragment(std::string name) {
    for (auto at = name.find(removedNameFragment); at != std::string::npos; at = name.find(removedNameFragment, at))
        name.erase(at, removedNameFragment.size());
    return name;
}

std::string_view AppInventory::trimmingWhitespace(std::string_view text) {
    if (!isValidUTF8(text)) return text;
    while (!text.empty()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(text.front()));
        if (!isWhitespace(decodeAt(text, 0, length))) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        std::size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        if (!isWhitespace(decodeAt(text, start, text.size() - start))) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

std::vector<fs::path> AppInventory::searchRoots(const Services& services) { return services.catalog.searchRoots(); }

namespace {

std::vector<AppRecord> installedRecords(const AppInventory::Services& services, IconBudget& icons, std::size_t* omitted) {
    const std::string extension = services.catalog.applicationExtension();
    const std::optional<std::string> ownIdentifier = services.identity.bundleIdentifier();
    std::unordered_set<std::string> seenPaths;
    std::vector<AppRecord> records;
    std::size_t passedOver = 0;

    for (const fs::path& root : AppInventory::searchRoots(services)) {
        const auto entries = services.catalog.contentsOfDirectory(root);
        if (!entries) continue;
        for (const fs::path& entry : *entries) {
            if (pathExtension(entry) != extension) continue;
            const std::string path = entry.string();
            if (!seenPaths.insert(path).second) continue;
            if (records.size() >= services.installedLimit) {
                ++passedOver;
                continue;
            }
            const std::optional<CatalogEntry> bundle = services.catalog.bundle(entry);
            if (!bundle) continue;
            // Two absent identifiers count as equal: an unidentified build leaves out unidentified entries.
            if (bundle->bundleIdentifier == ownIdentifier) continue;
            records.push_back(AppRecord{.name = AppInventory::removingNameFragment(bundle->displayName),
                                        .bundleId = bundle->bundleIdentifier,
                                        .path = path,
                                        .icon = icons.dataURI(bundle->icon.get()),
                                        .running = false,
                                        .launchable = true});
        }
    }
    sortByName(records, services.collation, [](const AppRecord& r) -> const std::string& { return r.name; });
    if (omitted) *omitted = passedOver;
    return records;
}

std::vector<AppRecord> runningRecords(const AppInventory::Services& services, IconBudget& icons) {
    const std::string extension = services.catalog.applicationExtension();
    const std::string bundleSuffix = "." + extension;
    const std::optional<std::string> ownIdentifier = services.identity.bundleIdentifier();
    std::vector<AppRecord> records;

    for (const RunningApplication& app : services.runningApplications.runningApplications()) {
        if (app.activationPolicy != RunningApplication::ActivationPolicy::regular) continue;
        if (app.bundleIdentifier == ownIdentifier) continue;
        if (!app.localizedName || app.localizedName->empty()) continue;
        const bool launchable =
            app.bundlePath && (endsWith(*app.bundlePath, bundleSuffix) || endsWith(*app.bundlePath, bundleSuffix + "/"));
        records.push_back(AppRecord{.name = *app.localizedName,
                                    .bundleId = app.bundleIdentifier,
                                    .path = app.bundlePath,
                                    .icon = icons.dataURI(app.icon.get()),
                                    .running = true,
                                    .launchable = launchable});
    }
    sortByName(records, services.collation, [](const AppRecord& r) -> const std::string& { return r.name; });
    return records;
}

} // namespace

std::vector<AppRecord> AppInventory::installed(const Services& services, std::size_t* omitted) {
    IconBudget icons(services.iconTimeBudget);
    return installedRecords(services, icons, omitted);
}

std::vector<AppRecord> AppInventory::running(const Services& services) {
    IconBudget icons(services.iconTimeBudget);
    return runningRecords(services, icons);
}

std::vector<std::string> AppInventory::shortcuts(const Services& services) {
    if (!services.fileManager.isExecutableFile(services.shortcutsTool)) return {};
    auto outcome = runChildProcess({.executable = services.shortcutsTool,
                                    .arguments = {std::string(shortcutsArgument)},
                                    .standardError = ChildProcessRequest::Stream::discard,
                                    .timeLimit = services.shortcutsWaitLimit,
                                    .maxOutputBytes = shortcutsMaxOutputBytes});
    if (!outcome || outcome->timedOut || !outcome->exitedNormally || outcome->terminationStatus != 0) return {};
    std::string& text = outcome->standardOutput;
    // A cut leaves the last name incomplete.
    if (outcome->standardOutputCut) text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n'));
    if (!isValidUTF8(text)) return {};

    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view name = trimmingWhitespace(std::string_view(text).substr(start, end - start));
        if (!name.empty()) names.emplace_back(name);
        start = end + 1;
    }
    sortByName(names, services.collation, [](const std::string& s) -> const std::string& { return s; });
    return names;
}

std::optional<std::string> AppInventory::helperPath(const Services& services) {
    const std::optional<fs::path> executable = services.identity.executablePath();
    if (!executable || executable->empty()) return std::nullopt;
    const fs::path helper = executable->parent_path() / std::string(helperFileName);
    if (!services.fileManager.isExecutableFile(helper)) return std::nullopt;
    return helper.string();
}

std::optional<std::string> AppInventory::iconDataURI(const IconImage* image, double side) {
    if (!image) return std::nullopt;
    std::optional<std::string> base64 = image->pngBase64(side);
    if (!base64 || base64->empty()) return std::nullopt;
    return std::string(iconDataURIPrefix) + *base64;
}

AppInventoryPayload AppInventory::collect(const Services& services) {
    AppInventoryPayload payload;
    IconBudget icons(services.iconTimeBudget);
    payload.running = runningRecords(services, icons);
    payload.installed = installedRecords(services, icons, &payload.installedOmitted);
    payload.shortcuts = shortcuts(services);
    payload.helperPath = helperPath(services);
    return payload;
}

} // namespace tarvel
