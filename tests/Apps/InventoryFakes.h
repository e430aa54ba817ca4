#pragma once
// Stand-ins for the platform services of the application inventory.
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "Apps/AppInventory.h"

namespace tarvel::testing {

// An icon whose "PNG" is a text naming the image and the side it was drawn at.
class FakeIcon : public IconImage {
public:
    explicit FakeIcon(std::string label, bool fails = false) : label_(std::move(label)), fails_(fails) {}
    std::optional<std::string> pngBase64(double side) const override {
        ++draws;
        if (fails_) return std::nullopt;
        return label_ + "@" + std::to_string(static_cast<int>(side));
    }
    mutable int draws = 0;

private:
    std::string label_;
    bool fails_;
};

inline IconImagePtr icon(std::string label) { return std::make_shared<FakeIcon>(std::move(label)); }

class FakeCatalog : public AppCatalog {
public:
    std::vector<std::filesystem::path> roots;
    std::map<std::filesystem::path, std::vector<std::filesystem::path>> folders;  // missing: cannot be listed
    std::map<std::filesystem::path, CatalogEntry> bundles;                         // missing: not an application
    mutable std::vector<std::string>* log = nullptr;

    std::vector<std::filesystem::path> searchRoots() const override {
        if (log) log->push_back("searchRoots");
        return roots;
    }
    std::string applicationExtension() const override { return "app"; }
    std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(const std::filesystem::path& folder) const override {
        auto it = folders.find(folder);
        if (it == folders.end()) return std::nullopt;
        return it->second;
    }
    std::optional<CatalogEntry> bundle(const std::filesystem::path& path) const override {
        auto it = bundles.find(path);
        if (it == bundles.end()) return std::nullopt;
        return it->second;
    }
};

class FakeRunning : public RunningApplications {
public:
    std::vector<RunningApplication> apps;
    mutable std::vector<std::string>* log = nullptr;
    std::vector<RunningApplication> runningApplications() const override {
        if (log) log->push_back("runningApplications");
        return apps;
    }
};

// Letter case ignored (ASCII); enough to tell the sort's stability and key apart.
class CaseInsensitiveCollation : public NameCollation {
public:
    int compare(std::string_view a, std::string_view b) const override {
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            int x = std::tolower(static_cast<unsigned char>(a[i]));
            int y = std::tolower(static_cast<unsigned char>(b[i]));
            if (x != y) return x < y ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    }
};

class FakeIdentity : public OwnIdentity {
public:
    std::optional<std::string> identifier;
    std::optional<std::filesystem::path> executable;
    std::optional<std::string> bundleIdentifier() const override { return identifier; }
    std::optional<std::filesystem::path> executablePath() const override { return executable; }
};

inline std::vector<std::string> names(const std::vector<AppRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.name);
    return out;
}

} // namespace tarvel::testing
