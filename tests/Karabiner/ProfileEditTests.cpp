// The profile edited in place, on real files (tests/fixtures/karabiner/README.md): a rule's changed
// members, a rule turned off or on, moved or added, the profile's simple modifications, function
// keys and parameters, a device's simple modifications. Only the bytes of what changed change.
#include <gtest/gtest.h>

#include <functional>

#include "Karabiner/ApplyCheck.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;

const fs::path fixtures = TARVEL_FIXTURES_DIR "/karabiner";
const char* const written = "real-karabiner-elements-written.json";
const char* const commentedOut = "real-commented-out-rule.json";
const char* const simple = "real-simple-modifications.jsonc";

std::string spaces(std::size_t n) { return std::string(n, ' '); }

// `text` with each `from` (found once) replaced by its `to`.
std::string replaced(std::string text, const std::vector<std::pair<std::string, std::string>>& changes) {
    for (const auto& [from, to] : changes) {
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at == std::string::npos) continue;
        EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from << " is not one place";
        text.replace(at, from.size(), to);
    }
    return text;
}

using Profile = const Json&;
Json ruleOf(Profile profile, std::size_t i) { return profile["complex_modifications"]["rules"][i]; }
Json withMember(Json object, const std::string& name, Json value) {
    if (value.is_null()) object.erase(name);
    else object[name] = std::move(value);
    return object;
}
RuleListEntry keep(std::size_t i) { return {i, std::nullopt}; }
RuleListEntry edit(std::size_t i, Json rule) { return {i, std::move(rule)}; }
RuleListEntry added(Json rule) { return {std::nullopt, std::move(rule)}; }
std::vector<RuleListEntry> everyRule(Profile profile, std::function<RuleListEntry(std::size_t)> entry = keep) {
    std::vector<RuleListEntry> list;
    for (std::size_t i = 0; i < profile["complex_modifications"]["rules"].size(); ++i) list.push_back(entry(i));
    return list;
}
ProfileValue value(ProfileValue::Kind kind, Json json, std::size_t device = 0) { return {kind, device, std::move(json)}; }
using Kind = ProfileValue::Kind;

const Json newRule = Json::parse(R"({"description": "Hyper", "manipulators": [{"type": "basic", "from": {"key_code": "right_command"},
    "to": [{"key_code": "left_shift", "modifiers": ["left_command", "left_control", "left_option"]}]}]})");

class ProfileEditTest : public ::testing::Test {
protected:
    test::TemporaryDirectory home;
};

TEST_F(ProfileEditTest, OnlyTheBytesOfWhatChangedChange) {
    const struct {
        const char* what;
        const char* file;
        std::function<void(Profile, KarabinerApplyRequest&)> request;  // made from the selected profile as read; every rule kept else
        std::vector<std::pair<std::string, std::string>> changes;       // the file afterwards: these replaced
        bool asKarabiner = false;  // instead: the file afterwards is exactly what Karabiner-Elements writes
    } cases[] = {
        {"every rule kept in its place: not a byte changes", written, [](Profile, auto&) {}, {}},
        {"a description edited: that string changes", written,
         [](Profile p, auto& r) {
             r.ruleList = everyRule(p, [&](std::size_t i) {
                 return i == 0 ? edit(0, withMember(ruleOf(p, 0), "description", "Keyboard brightness")) : keep(i);
             });
         },
         {{R"("Fn + f5/f6 to keyboard brightness down/up")", R"("Keyboard brightness")"}}},
        {"a rule turned off: one member, at its sorted place", written,
         [](Profile p, auto& r) {
             r.ruleList = everyRule(p, [&](std::size_t i) { return i == 0 ? edit(0, withMember(ruleOf(p, 0), "enabled", false)) : keep(i); });
         },
         {{"down/up\",\n", "down/up\",\n" + spaces(24) + "\"enabled\": false,\n"}}},
        {"a rule turned on: that member's value", written,
         [](Profile p, auto& r) {
             r.ruleList = everyRule(p, [&](std::size_t i) { return i == 1 ? edit(1, withMember(ruleOf(p, 1), "enabled", true)) : keep(i); });
         },
         {{"alone\",\n" + spaces(24) + "\"enabled\": false", "alone\",\n" + spaces(24) + "\"enabled\": true"}}},
        {"a rule turned on by leaving the member out: that member goes", written,
         [](Profile p, auto& r) {
             r.ruleList = everyRule(p, [&](std::size_t i) { return i == 1 ? edit(1, withMember(ruleOf(p, 1), "enabled", nullptr)) : keep(i); });
         },
         {{"alone\",\n" + spaces(24) + "\"enabled\": false,\n", "alone\",\n"}}},
        {"one manipulator changed: that value", written,
         [](Profile p, auto& r) {
             Json rule = ruleOf(p, 0);
             rule["manipulators"][1]["to"][0]["key_code"] = "f6";
             r.ruleList = everyRule(p, [&](std::size_t i) { return i == 0 ? edit(0, rule) : keep(i); });
         },
         {{R"("key_code": "illumination_increment")", R"("key_code": "f6")"}}},
        {"a simple modification changed: that value", written,
         [](Profile p, auto& r) {
             Json modifications = p["simple_modifications"];
             modifications[0]["to"][0]["key_code"] = "left_control";
             r.values = {value(Kind::simpleModifications, modifications)};
         },
         {{"\"simple_modifications\": [\n" + spaces(16) + "{\n" + spaces(20) + "\"from\": { \"key_code\": \"caps_lock\" },\n" + spaces(20) +
               "\"to\": [{ \"key_code\": \"escape\" }]\n" + spaces(16) + "},\n" + spaces(16) + "{\n" + spaces(20) +
               "\"from\": { \"key_code\": \"escape\" },\n" + spaces(20) + "\"to\": [{ \"key_code\": \"caps_lock\" }]\n" + spaces(16) + "}\n" +
               spaces(12) + "],\n" + spaces(12) + "\"virtual",
           "\"simple_modifications\": [\n" + spaces(16) + "{\n" + spaces(20) + "\"from\": { \"key_code\": \"caps_lock\" },\n" + spaces(20) +
               "\"to\": [{ \"key_code\": \"left_control\" }]\n" + spaces(16) + "},\n" + spaces(16) + "{\n" + spaces(20) +
               "\"from\": { \"key_code\": \"escape\" },\n" + spaces(20) + "\"to\": [{ \"key_code\": \"caps_lock\" }]\n" + spaces(16) + "}\n" +
               spaces(12) + "],\n" + spaces(12) + "\"virtual"}}},
        {"a device's simple modification changed: that value", written,
         [](Profile p, auto& r) {
             Json modifications = p["devices"][1]["simple_modifications"];
             modifications[2]["to"][0]["key_code"] = "right_control";
             r.values = {value(Kind::deviceSimpleModifications, modifications, 1)};
         },
         {{"\"left_option\" },\n" + spaces(28) + "\"to\": [{ \"key_code\": \"left_control\" }]",
           "\"left_option\" },\n" + spaces(28) + "\"to\": [{ \"key_code\": \"right_control\" }]"}}},
        {"a parameter changed, one added at its sorted place", written,
         [](Profile p, auto& r) {
             Json parameters = p["complex_modifications"]["parameters"];
             parameters["basic.to_if_alone_timeout_milliseconds"] = 300;
             parameters["basic.simultaneous_threshold_milliseconds"] = 30;
             r.values = {value(Kind::parameters, parameters)};
         },
         {{"\"basic.to_delayed", "\"basic.simultaneous_threshold_milliseconds\": 30,\n" + spaces(20) + "\"basic.to_delayed"},
          {"\"basic.to_if_alone_timeout_milliseconds\": 500", "\"basic.to_if_alone_timeout_milliseconds\": 300"}}},
        {"rules moved, edited, added, values replaced: as Karabiner-Elements writes the document", written,
         [](Profile p, auto& r) {
             r.ruleList = {keep(2), edit(0, withMember(ruleOf(p, 0), "enabled", false)), added(newRule), keep(4), keep(1)};
             r.values = {value(Kind::fnFunctionKeys, Json::array()), value(Kind::simpleModifications, Json::array()),
                         value(Kind::deviceSimpleModifications, Json::array({{{"from", {{"key_code", "a"}}}, {"to", {{{"key_code", "b"}}}}}}), 0)};
         },
         {}, true},
        {"a rule after a commented-out one edited: that string", commentedOut,
         [](Profile p, auto& r) {
             r.ruleList = everyRule(p, [&](std::size_t i) { return i == 0 ? edit(0, withMember(ruleOf(p, 0), "description", "remote")) : keep(i); });
         },
         {{R"("remote programs - keymap")", R"("remote")"}}},
        {"every rule kept in a file with comments: not a byte changes", commentedOut, [](Profile, auto&) {}, {}},
        {"a simple modification changed in a commented file: that value", simple,
         [](Profile p, auto& r) {
             Json modifications = p["simple_modifications"];
             modifications[2]["to"][0]["key_code"] = "escape";
             r.values = {value(Kind::simpleModifications, modifications)};
         },
         {{R"("to": [{ "key_code": "right_control" }])", R"("to": [{ "key_code": "escape" }])"}}},
        {"function keys where there were none: inserted at their sorted place", simple,
         [](Profile, auto& r) {
             r.values = {value(Kind::fnFunctionKeys, Json::parse(R"([{"from": {"key_code": "f1"}, "to": [{"consumer_key_code": "display_brightness_decrement"}]}])"))};
         },
         {{"\"name\": \"Default profile\",", "\"fn_function_keys\": [\n" + spaces(16) + "{\n" + spaces(20) + "\"from\": { \"key_code\": \"f1\" },\n" +
                                                  spaces(20) + "\"to\": [{ \"consumer_key_code\": \"display_brightness_decrement\" }]\n" +
                                                  spaces(16) + "}\n" + spaces(12) + "],\n" + spaces(12) + "\"name\": \"Default profile\","}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " (" + c.file + ")");
        const std::string original = test::readFile(fixtures / c.file);
        const Json document = test::readerView(original);
        KarabinerApplyRequest request;
        request.baseDigest = KarabinerWriter::digest(original);
        request.ruleList = everyRule(document["profiles"][0]);  // unless the case says otherwise
        c.request(document["profiles"][0], request);
        const auto check = test::checkApply(original, request, home / "apply");
        ASSERT_EQ(check.error, "");
        EXPECT_TRUE(check.sameAsFullRewrite) << check.result;
        if (c.asKarabiner) {
            EXPECT_TRUE(check.karabinerWritten && check.asKarabinerWrites) << check.result;
        } else {
            EXPECT_EQ(check.result, replaced(original, c.changes));
            // A file Karabiner-Elements wrote comes out as it would write it.
            EXPECT_EQ(check.karabinerWritten, check.asKarabinerWrites);
        }
    }
}

// A moved rule takes the commented-out rule above it along; one that goes leaves it to the next.
TEST_F(ProfileEditTest, ACommentedOutRuleStaysWithTheRuleBelowIt) {
    const std::string original = test::readFile(fixtures / commentedOut);
    const auto commented = original.substr(original.find("          // {"), original.find("          {\n            \"description\": \"remote") -
                                                                                  original.find("          // {"));
    const Json profile = test::readerView(original)["profiles"][0];
    const std::size_t count = profile["complex_modifications"]["rules"].size();
    KarabinerApplyRequest moved;
    moved.baseDigest = KarabinerWriter::digest(original);
    moved.ruleList.emplace();
    for (std::size_t i = 1; i < count; ++i) moved.ruleList->push_back(keep(i));
    moved.ruleList->push_back(keep(0));
    auto check = test::checkApply(original, moved, home / "apply");
    ASSERT_EQ(check.error, "");
    EXPECT_TRUE(check.sameAsFullRewrite);
    EXPECT_NE(check.result.find(commented + "          {\n            \"description\": \"remote"), std::string::npos) << check.result;
    EXPECT_LT(check.result.find(ruleOf(profile, 1)["description"].get<std::string>()), check.result.find(commented));

    KarabinerApplyRequest dropped = moved;
    dropped.ruleList = std::vector<RuleListEntry>{};
    for (std::size_t i = 1; i < count; ++i) dropped.ruleList->push_back(keep(i));
    check = test::checkApply(original, dropped, home / "apply");
    ASSERT_EQ(check.error, "");
    EXPECT_TRUE(check.sameAsFullRewrite);
    const auto next = ruleOf(profile, 1)["description"].get<std::string>();
    EXPECT_EQ(check.result.find(commented), check.result.find("\"rules\": [\n") + 11) << check.result.substr(0, 2000);
    EXPECT_LT(check.result.find(commented), check.result.find(next));
}

TEST_F(ProfileEditTest, ARuleOrDeviceThatIsNotThereIsRefused) {
    const std::string original = test::readFile(fixtures / written);
    const struct {
        std::function<void(KarabinerApplyRequest&)> request;
        const char* error;
    } cases[] = {
        {[](auto& r) { r.ruleList = {edit(5, newRule)}; }, "the profile has no rule 5"},
        {[](auto& r) { r.ruleList = {keep(0), keep(9)}; }, "the profile has no rule 9"},
        {[](auto& r) { r.values = {value(Kind::deviceFnFunctionKeys, Json::array(), 8)}; }, "the profile has no device 8"},
    };
    for (const auto& c : cases) {
        KarabinerApplyRequest request;
        request.ruleList.emplace();
        request.baseDigest = KarabinerWriter::digest(original);
        c.request(request);
        const auto check = test::checkApply(original, request, home / "apply");
        EXPECT_EQ(check.error, c.error);
        EXPECT_EQ(test::readFile(home / "apply/karabiner.json"), original);
    }
    // In a profile without devices, device 0 is not there either.
    const std::string bare = R"({"profiles": [{"name": "A"}]})";
    KarabinerApplyRequest request;
    request.ruleList.emplace();
    request.values = {value(Kind::deviceSimpleModifications, Json::array(), 0)};
    EXPECT_EQ(test::checkApply(bare, request, home / "apply").error, "the profile has no device 0");
}

} // namespace
} // namespace tarvel
