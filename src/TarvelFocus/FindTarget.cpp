#include "FindTarget.h"

#include <algorithm>

namespace tarvel_focus {

namespace {

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool equalTo(const Normalizer& normalizer, const std::optional<std::string>& value, const std::string& wanted) {
    return value && canonicallyEqual(normalizer, *value, wanted);
}

} // namespace

bool canonicallyEqual(const Normalizer& normalizer, const std::string& a, const std::string& b) {
    if (a == b) return true;
    // ASCII text is already composed, and two different composed texts are never equivalent.
    if (isAscii(a) && isAscii(b)) return false;
    const auto composedA = normalizer.composed(a);
    const auto composedB = normalizer.composed(b);
    // Bytes that are not UTF-8 equal nothing but themselves.
    if (!composedA || !composedB) return false;
    return *composedA == *composedB;
}

std::shared_ptr<RunningApplication> findTarget(RunningApplications& applications, const Normalizer& normalizer,
                                               const std::optional<std::string>& name,
                                               const std::optional<std::string>& bundleId) {
    const bool byName = name && !name->empty();
    const bool byIdentifier = bundleId && !bundleId->empty() && *bundleId != kJavaRuntimeIdentifier;
    if (!byName && !byIdentifier) return nullptr; // nothing to look for: don't ask the platform at all

    std::vector<std::shared_ptr<RunningApplication>> candidates = applications.list();
    std::erase_if(candidates, [](const auto& application) {
        return !application || application->activationPolicy() != ActivationPolicy::regular;
    });

    if (byName) {
        const auto namedAndIdentified = std::find_if(candidates.begin(), candidates.end(), [&](const auto& app) {
            return equalTo(normalizer, app->localizedName(), *name) &&
                   (!bundleId || equalTo(normalizer, app->bundleIdentifier(), *bundleId));
        });
        if (namedAndIdentified != candidates.end()) return *namedAndIdentified;
        const auto named = std::find_if(candidates.begin(), candidates.end(), [&](const auto& app) {
            return equalTo(normalizer, app->localizedName(), *name);
        });
        if (named != candidates.end()) return *named;
    }
    if (byIdentifier) {
        const auto identified = std::find_if(candidates.begin(), candidates.end(), [&](const auto& app) {
            return equalTo(normalizer, app->bundleIdentifier(), *bundleId);
        });
        if (identified != candidates.end()) return *identified;
    }
    return nullptr;
}

} // namespace tarvel_focus
