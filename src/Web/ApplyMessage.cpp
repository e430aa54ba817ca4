#include <algorithm>
#include <set>

#include "Karabiner/KarabinerLinter.h"
#include "Karabiner/KarabinerWriter.h"
#include "Web/BridgeMessages.h"

namespace tarvel::bridge {

namespace fs = std::filesystem;
using Coordinator = KeymapWebView::Coordinator;

namespace {

bool isManipulatorList(const Json* list) {
    return list && list->is_array() && std::all_of(list->begin(), list->end(), [](const Json& m) { return m.is_object(); });
}

const Json* member(const Json& object, const char* name) {
    auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

bool isIndex(const Json& value) { return value.is_number_unsigned() || (value.is_number_integer() && value.get<std::int64_t>() >= 0); }

bool isDigest(const Json& value) { return value.is_string() && KarabinerWriter::isDigest(value.get_ref<const std::string&>()); }

struct ApplyBody {
    std::string title;
    KarabinerApplyRequest request;
    std::size_t manipulatorCount = 0;
};

// The body as the page sends it: "title" with "manipulators" (one rule), or with "rules" (then
// "manipulators" is not looked at); optional "baseDigest", "keep" (only with "baseDigest") and
// "profile". Other keys are ignored.
std::optional<ApplyBody> parse(const Json& body) {
    if (!body.is_object()) return std::nullopt;
    const Json* title = member(body, "title");
    if (!title || !title->is_string()) return std::nullopt;
    ApplyBody parsed;
    parsed.title = title->get<std::string>();

    if (const Json* rules = member(body, "rules")) {
        if (!rules->is_array()) return std::nullopt;
        for (const auto& rule : *rules) {
            if (!rule.is_object()) return std::nullopt;
            const Json* name = member(rule, "name");
            const Json* enabled = member(rule, "enabled");
            const Json* manipulators = member(rule, "manipulators");
            if (!name || !name->is_string() || (enabled && !enabled->is_boolean()) || !isManipulatorList(manipulators)) return std::nullopt;
            parsed.request.rules.push_back({KarabinerWriter::ruleDescription(parsed.title, name->get_ref<const std::string&>()),
                                            !enabled || enabled->get<bool>(), *manipulators});
            parsed.manipulatorCount += manipulators->size();
        }
    } else {
        const Json* manipulators = member(body, "manipulators");
        if (!isManipulatorList(manipulators)) return std::nullopt;
        parsed.request.rules.push_back({parsed.title, true, *manipulators});
        parsed.manipulatorCount = manipulators->size();
    }

    if (const Json* digest = member(body, "baseDigest")) {
        if (!isDigest(*digest)) return std::nullopt;
        parsed.request.baseDigest = digest->get<std::string>();
    }
    if (const Json* keep = member(body, "keep")) {
        // Indices mean something only in the file the page read.
        if (!keep->is_array() || !parsed.request.baseDigest) return std::nullopt;
        std::set<std::size_t> seen;
        for (const auto& index : *keep) {
            if (!isIndex(index) || !seen.insert(index.get<std::size_t>()).second) return std::nullopt;
            parsed.request.keep.push_back(index.get<std::size_t>());
        }
    }
    if (const Json* profile = member(body, "profile")) {
        if (!isIndex(*profile)) return std::nullopt;
        parsed.request.profile = profile->get<std::size_t>();
    }
    return parsed;
}

std::string apply(const Json& body, const Services& services) {
    auto parsed = parse(body);
    if (!parsed) return outcomeText(false, std::string(Coordinator::malformedApplyMessage), std::nullopt, "malformed");
    if (parsed->manipulatorCount > Coordinator::maxManipulators)
        return outcomeText(false, std::string(Coordinator::tooManyManipulatorsMessage), std::nullopt, "tooManyManipulators");

    const auto& rules = parsed->request.rules;
    if (std::any_of(rules.begin(), rules.end(), [](const TarvelRule& rule) { return !rule.manipulators.empty(); })) {
        if (auto reason = KarabinerLinter::lint(parsed->title, rules, services.linterPath, *services.fileManager,
                                                {.stopRequested = services.stopRequested}))
            return outcomeText(false, std::string(Coordinator::lintFailurePrefix) + *reason, std::nullopt, "lint");
    }

    auto result = KarabinerWriter::apply(parsed->request, configurationPath(services), *services.fileManager);
    if (result) return outcomeText(true, std::nullopt, result->backupURL.string());
    return outcomeText(false, localizedDescription(result.error()), std::nullopt, errorCode(result.error()), errorPosition(result.error()));
}

} // namespace

std::string applyAnswer(const Json& body, const Services& services) {
    // Every apply request is answered once, whatever goes wrong underneath.
    try {
        return apply(body, services);
    } catch (const std::exception& e) {
        return outcomeText(false, std::string("could not apply: ") + e.what(), std::nullopt);
    }
}

std::string outcomeText(bool ok, std::optional<std::string> error, std::optional<std::string> backupPath,
                        std::optional<std::string> code, std::optional<std::pair<std::size_t, std::size_t>> position) {
    Json outcome = {{"ok", ok}};
    if (error) outcome["error"] = std::move(*error);
    if (backupPath) outcome["backupPath"] = std::move(*backupPath);
    if (code) outcome["code"] = std::move(*code);
    if (position) {
        outcome["line"] = position->first;
        outcome["column"] = position->second;
    }
    // Texts can carry bytes from the file system (a parser's excerpt, a path) that are not UTF-8;
    // they are replaced rather than leaving the page waiting for an answer that never comes.
    return outcome.dump(-1, ' ', false, Json::error_handler_t::replace);
}

fs::path configurationPath(const Services& services) {
    return services.homeDirectory / std::string(KarabinerEnvironment::configRelativePath);
}

} // namespace tarvel::bridge
