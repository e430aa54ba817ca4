#pragma once
#include "OpenFallback.h"
#include "RunningApplications.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tarvel_focus::testing {

struct FakeApplication final : RunningApplication {
    FakeApplication(std::string label, ActivationPolicy policy, std::optional<std::string> name,
                    std::optional<std::string> identifier)
        : label(std::move(label)), policy(policy), name(std::move(name)), identifier(std::move(identifier)) {}
    ActivationPolicy activationPolicy() const override { return policy; }
    std::optional<std::string> localizedName() const override { return name; }
    std::optional<std::string> bundleIdentifier() const override { return identifier; }

    std::string label;
    ActivationPolicy policy;
    std::optional<std::string> name, identifier;
};

struct FakeApplications final : RunningApplications {
    FakeApplications& add(std::string label, std::optional<std::string> name, std::optional<std::string> identifier,
                          ActivationPolicy policy = ActivationPolicy::regular) {
        applications.push_back(std::make_shared<FakeApplication>(std::move(label), policy, std::move(name),
                                                                 std::move(identifier)));
        return *this;
    }
    std::vector<std::shared_ptr<RunningApplication>> list() override {
        ++listings;
        return {applications.begin(), applications.end()};
    }
    bool activateAllWindows(RunningApplication& application) override {
        activated.push_back(dynamic_cast<FakeApplication&>(application).label);
        return acceptsActivation;
    }

    std::vector<std::shared_ptr<FakeApplication>> applications;
    bool acceptsActivation = true;
    int listings = 0;
    std::vector<std::string> activated;
};

// Knows a handful of decomposed spellings; any byte 0xFF makes the text invalid.
struct FakeNormalizer final : Normalizer {
    std::optional<std::string> composed(const std::string& text) const override {
        ++calls;
        if (text.find('\xFF') != std::string::npos) return std::nullopt;
        std::string result = text;
        for (const auto& [decomposed, precomposed] : table) {
            for (auto at = result.find(decomposed); at != std::string::npos; at = result.find(decomposed))
                result.replace(at, decomposed.size(), precomposed);
        }
        return result;
    }
    const std::map<std::string, std::string> table{{"e\u0301", "\u00e9"}, {"A\u030a", "\u00c5"}};
    mutable int calls = 0;
};

// An opener whose completion is driven by the test.
struct FakeOpener final : ApplicationOpener {
    enum class Mode { succeed, fail, never, succeedLater };

    explicit FakeOpener(Mode mode) : mode(mode) {}
    ~FakeOpener() override {
        if (late.joinable()) late.join();
    }

    void openApplication(const std::string& absolutePath, std::function<void(bool)> completion) override {
        opened.push_back(absolutePath);
        switch (mode) {
        case Mode::succeed: completion(true); break;
        case Mode::fail: completion(false); break;
        case Mode::never: kept = std::move(completion); break;
        case Mode::succeedLater:
            late = std::thread([completion = std::move(completion), delay = delay] {
                std::this_thread::sleep_for(delay);
                completion(true);
            });
            break;
        }
    }

    Mode mode;
    std::chrono::milliseconds delay{50};
    std::vector<std::string> opened;
    std::function<void(bool)> kept; // a completion that has not run yet
    std::thread late;
};

} // namespace tarvel_focus::testing
