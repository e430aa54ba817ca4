#include <algorithm>
#include <set>

#include "Karabiner/KarabinerLinter.h"
#include "Karabiner/KarabinerWriter.h"
#include "Web/BridgeMessages.h"

namespace tarvel::bridge {

namespace fs = std::filesystem;
using Coordinator = KeymapWebView::Coordinator;

namespace {

bool isObjectList(const Json* list) {
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
    Json lintable = Json::array();  // the new form's rules to lint: every new or edited one
};

// A rule as the page writes it: an object with "manipulators" (objects), and "description" (a
// string) and "enabled" (a boolean) when present; other members are the page's to choose.
bool isRule(const Json* rule) {
    if (!rule || !rule->is_object()) return false;
    const Json* description = member(*rule, "description");
    const Json* enabled = member(*rule, "enabled");
    return isObjectList(member(*rule, "manipulators")) && (!description || description->is_string()) && (!enabled || enabled->is_boolean());
}

// The profile's final rule list and the values it replaces: "ruleList" (entries {"keep": i},
// {"edit": i, "rule"}, {"rule"}; each index once), optional "values" (one of five paths each, at
// most once), "baseDigest" (required) and "profile".
std::optional<ApplyBody> parseRuleList(const Json& body, const Json& list) {
    ApplyBody parsed;
    const Json* digest = member(body, "baseDigest");
    if (!list.is_array() || !digest) return std::nullopt;
    std::vector<RuleListEntry> entries;
    std::set<std::size_t> seen;
    for (const auto& entry : list) {
        if (!entry.is_object()) return std::nullopt;
        const Json* keep = member(entry, "keep");
        const Json* edit = member(entry, "edit");
        const Json* rule = member(entry, "rule");
        const Json* index = keep ? keep : edit;
        if ((keep && (edit || rule)) || (edit && !rule) || (!index && !rule)) return std::nullopt;
        if (index && (!isIndex(*index) || !seen.insert(index->get<std::size_t>()).second)) return std::nullopt;
        if (rule && !isRule(rule)) return std::nullopt;
        RuleListEntry parsedEntry;
        if (index) parsedEntry.index = index->get<std::size_t>();
        if (rule) {
            parsedEntry.rule = *rule;
            parsed.lintable.push_back(*rule);
            parsed.manipulatorCount += (*rule)["manipulators"].size();
        }
        entries.push_back(std::move(parsedEntry));
    }
    parsed.request.ruleList = std::move(entries);

    if (const Json* values = member(body, "values")) {
        if (!values->is_array()) return std::nullopt;
        std::set<std::pair<int, std::size_t>> paths;
        for (const auto& item : *values) {
            const Json* path = item.is_object() ? member(item, "path") : nullptr;
            const Json* value = item.is_object() ? member(item, "value") : nullptr;
            if (!path || !path->is_array() || !value) return std::nullopt;
            using Kind = ProfileValue::Kind;
            ProfileValue parsedValue;
            const auto is = [&](std::size_t at, const char* name) { return (*path)[at].is_string() && (*path)[at] == name; };
            if (path->size() == 1 && is(0, "simple_modifications")) parsedValue.kind = Kind::simpleModifications;
            else if (path->size() == 1 && is(0, "fn_function_keys")) parsedValue.kind = Kind::fnFunctionKeys;
            else if (path->size() == 2 && is(0, "complex_modifications") && is(1, "parameters")) parsedValue.kind = Kind::parameters;
            else if (path->size() == 3 && is(0, "devices") && isIndex((*path)[1]) && is(2, "simple_modifications"))
                parsedValue.kind = Kind::deviceSimpleModifications;
            else if (path->size() == 3 && is(0, "devices") && isIndex((*path)[1]) && is(2, "fn_function_keys"))
                parsedValue.kind = Kind::deviceFnFunctionKeys;
            else return std::nullopt;
            if (path->size() == 3) parsedValue.device = (*path)[1].get<std::size_t>();
            const bool isObjectValue = parsedValue.kind == Kind::parameters;
            if (isObjectValue ? !value->is_object() : !isObjectList(value)) return std::nullopt;
            if (!paths.insert({static_cast<int>(parsedValue.kind), parsedValue.device}).second) return std::nullopt;
            parsedValue.value = *value;
            parsed.request.values.push_back(std::move(parsedValue));
        }
    }
    return parsed;
}

// The body as the page sends it: "ruleList" (above; then "title", "rules", "manipulators" and
// "keep" are not looked at), or "title" with "manipulators" (one rule), or with "rules" (then
// "manipulators" is not looked at); optional "baseDigest", "keep" (only with "baseDigest") and
// "profile". Other keys are ignored.
std::optional<ApplyBody> parse(const Json& body) {
    if (!body.is_object()) return std::nullopt;
    std::optional<ApplyBody> parsedList;
    if (const Json* list = member(body, "ruleList")) {
        parsedList = parseRuleList(body, *list);
        if (!parsedList) return std::nullopt;
    }
    ApplyBody parsed = parsedList ? std::move(*parsedList) : ApplyBody{};
    const Json* title = member(body, "title");
    if (parsedList) {
        // The new form: "title", "rules", "manipulators" and "keep" are not looked at.
    } else if (!title || !title->is_string()) {
        return std::nullopt;
    } else if (const Json* rules = member(body, "rules")) {
        parsed.title = title->get<std::string>();
        if (!rules->is_array()) return std::nullopt;
        for (const auto& rule : *rules) {
            if (!rule.is_object()) return std::nullopt;
            const Json* name = member(rule, "name");
            const Json* enabled = member(rule, "enabled");
            const Json* manipulators = member(rule, "manipulators");
            if (!name || !name->is_string() || (enabled && !enabled->is_boolean()) || !isObjectList(manipulators)) return std::nullopt;
            parsed.request.rules.push_back({KarabinerWriter::ruleDescription(parsed.title, name->get_ref<const std::string&>()),
                                            !enabled || enabled->get<bool>(), *manipulators});
            parsed.manipulatorCount += manipulators->size();
        }
    } else {
        parsed.title = title->get<std::string>();
        const Json* manipulators = member(body, "manipulators");
        if (!isObjectList(manipulators)) return std::nullopt;
        parsed.request.rules.push_back({parsed.title, true, *manipulators});
        parsed.manipulatorCount = manipulators->size();
    }

    if (const Json* digest = member(body, "baseDigest")) {
        if (!isDigest(*digest)) return std::nullopt;
        parsed.request.baseDigest = digest->get<std::string>();
    }
    if (const Json* keep = parsedList ? nullptr : member(body, "keep")) {
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

    // Every rule that will be written anew is linted, all together; nothing to lint, no run.
    const LintRunLimits limits{.stopRequested = services.stopRequested};
    std::optional<std::string> refusal;
    if (parsed->request.ruleList) {
        if (!parsed->lintable.empty())
            refusal = KarabinerLinter::lintComplexModifications({{"title", ""}, {"rules", std::move(parsed->lintable)}}, services.linterPath,
                                                                *services.fileManager, limits);
    } else {
        const auto& rules = parsed->request.rules;
        if (std::any_of(rules.begin(), rules.end(), [](const TarvelRule& rule) { return !rule.manipulators.empty(); }))
            refusal = KarabinerLinter::lint(parsed->title, rules, services.linterPath, *services.fileManager, limits);
    }
    if (refusal) return outcomeText(false, std::string(Coordinator::lintFailurePrefix) + *refusal, std::nullopt, "lint");

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
