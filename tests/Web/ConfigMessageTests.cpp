// "tarvelConfig" and "tarvelRestore", the apply body that builds on what the page read, and the
// apply bodies refused as malformed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "Platform/Sha256.h"
#include "Web/BridgeFixture.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::CoordinatorTest;
using test::readFile;
using test::writeFile;

class ConfigMessageTest : public CoordinatorTest {
protected:
    Json config() {
        post("tarvelConfig", Json());
        auto values = answers(KeymapWebView::Coordinator::configAnswerStart);
        page->scripts.clear();
        return values.empty() ? Json() : values.back();
    }
    Json restore(const Json& body) {
        post("tarvelRestore", body);
        auto values = answers(KeymapWebView::Coordinator::restoreAnswerStart);
        page->scripts.clear();
        return values.empty() ? Json() : values.back();
    }
    Json applied(const Json& body) {
        post("tarvelApply", body);
        auto values = applyAnswers();
        page->scripts.clear();
        return values.empty() ? Json() : values.back();
    }
    fs::path folder() const { return CoordinatorTest::config().parent_path(); }
};

TEST_F(ConfigMessageTest, TheConfigurationAsThePageShowsIt) {
    const std::string text = R"(// dotfiles
{
    "profiles": [
        {"name": "Work", "devices": [{"identifiers": {"vendor_id": 1452, "product_id": 641}, "ignore": true}, {"ignore": false}],
         "simple_modifications": [{"from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}]}],
         "fn_function_keys": {"not": "an array"}, "virtual_hid_keyboard": {"keyboard_type_v2": "jis"}},
        {"name": "Home", "selected": true, "complex_modifications": {"parameters": {"basic.to_if_alone_timeout_milliseconds": 300}, "rules": [
            {"description": "[Tarvel] Keys: Caps", "manipulators": [{"type": "basic", "from": {"key_code": "caps_lock"}}]},
            // mine, off for now
            {"description": "mine", "enabled": false, "manipulators": [{"type": "basic", "parameters": {"x": 1.5}}]}
        ]}},
        {"selected": true}
    ]
})";
    writeFile(CoordinatorTest::config(), text);
    Json answer = config();
    EXPECT_EQ(answer, Json::parse(R"({"ok": true, "path": ")" + CoordinatorTest::config().string() + R"(",
        "digest": "sha256:)" + sha256Hex(text) + R"(", "hasComments": true, "backups": [],
        "profiles": [
            {"name": "Work", "selected": false, "rules": [], "commentedRules": [], "devices": [{"vendor_id": 1452, "product_id": 641}],
             "simpleModifications": [{"from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}]}],
             "fnFunctionKeys": [], "parameters": {}, "keyboardType": "jis",
             "deviceSettings": [{"identifiers": {"vendor_id": 1452, "product_id": 641}, "ignore": true}, {"ignore": false}]},
            {"name": "Home", "selected": true, "commentedRules": [1], "devices": [], "simpleModifications": [], "fnFunctionKeys": [],
             "parameters": {"basic.to_if_alone_timeout_milliseconds": 300}, "deviceSettings": [], "keyboardType": null, "rules": [
                {"description": "[Tarvel] Keys: Caps", "manipulators": [{"type": "basic", "from": {"key_code": "caps_lock"}}]},
                {"description": "mine", "enabled": false, "manipulators": [{"type": "basic", "parameters": {"x": 1.5}}]}]},
            {"name": null, "selected": false, "rules": [], "commentedRules": [], "devices": [], "simpleModifications": [], "fnFunctionKeys": [],
             "parameters": {}, "deviceSettings": [], "keyboardType": null}
        ]})"));
}

TEST_F(ConfigMessageTest, AFileTarvelCannotUseIsAnsweredWithACodeAndWhere) {
    ASSERT_EQ(::mkfifo((folder() / "fifo.json").c_str(), 0600), 0);
    const struct {
        std::string content;  // "@fifo": a link to a FIFO; "": no file
        Json expected;        // the answer without "error"
    } cases[] = {
        {"", {{"ok", false}, {"code", "notFound"}}},
        {"@fifo", {{"ok", false}, {"code", "notRegularFile"}}},
        {"{\"profiles\": [{},\n  ]}", {{"ok", false}, {"code", "trailingComma"}, {"line", 1}, {"column", 17}}},
        {"{\"profiles\": [{\"x\": -1e999}]}", {{"ok", false}, {"code", "numberOutOfRange"}, {"line", 1}, {"column", 21}}},
        {"{\"profiles\": " + std::string(300, '[') + std::string(300, ']') + "}", {{"ok", false}, {"code", "tooDeep"}, {"line", 1}, {"column", 269}}},
        {"[1]", {{"ok", false}, {"code", "notAnObject"}}},
        {"{\"profiles\": []}", {{"ok", false}, {"code", "noProfiles"}}},
        {"{\"profiles\": [{}] /", {{"ok", false}, {"code", "syntax"}, {"line", 1}, {"column", 19}}},
    };
    for (const auto& c : cases) {
        fs::remove(CoordinatorTest::config());
        if (c.content == "@fifo") fs::create_symlink(folder() / "fifo.json", CoordinatorTest::config());
        else if (!c.content.empty()) writeFile(CoordinatorTest::config(), c.content);
        Json answer = config();
        ASSERT_TRUE(answer.contains("error")) << c.content.substr(0, 40) << answer;
        answer.erase("error");
        EXPECT_EQ(answer, c.expected) << c.content.substr(0, 40);
    }
}

TEST_F(ConfigMessageTest, BackupsAreListedNewestFirstWithTheRulesThatWouldComeBack) {
    useLinter("exit 0");
    for (const char* title : {"one", "two", "three"}) ASSERT_EQ(applied(applyBody(title, someManipulators()))["ok"], true);
    writeFile(folder() / "karabiner.backup-20000101-000000.json", "{ broken");
    writeFile(folder() / "karabiner.backup-notes.json", "{}");  // not a name the writer makes
    Json answer = config();
    ASSERT_EQ(answer["backups"].size(), 4u) << answer;
    const Json& newest = answer["backups"][0];
    EXPECT_EQ(newest["rules"], Json::parse(R"([{"description": "[Tarvel] two", "enabled": true, "manipulators": 1}])"));
    EXPECT_EQ(answer["backups"][1]["rules"][0]["description"], "[Tarvel] one");
    EXPECT_EQ(answer["backups"][2]["rules"], Json::array());
    EXPECT_EQ(newest["size"], fs::file_size(newest["path"].get<std::string>()));
    EXPECT_EQ(fs::path(newest["path"].get<std::string>()).parent_path(), folder());
    EXPECT_TRUE(std::regex_match(newest["modified"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
    const Json& broken = answer["backups"][3];
    EXPECT_EQ(broken["name"], "karabiner.backup-20000101-000000.json");
    EXPECT_FALSE(broken.contains("rules"));
    EXPECT_EQ(broken["error"].get<std::string>().rfind("karabiner.json is not valid JSON at line 1, column 3", 0), 0u) << broken;

    // At most fifty, the newest.
    for (int i = 2; i < 62; ++i) writeFile(folder() / ("karabiner.backup-20100101-000010-" + std::to_string(i) + ".json"), "{}");
    answer = config();
    ASSERT_EQ(answer["backups"].size(), 50u);
    EXPECT_EQ(answer["backups"][3]["name"], "karabiner.backup-20100101-000010-61.json");
}

// The page reads, the user keeps a rule and adds two, the page applies against what it read; an
// apply against a file that changed since is refused; a backup puts the first state back. What the
// writer makes of each request (kept bytes, refusal texts, backup names) is its own test.
TEST_F(ConfigMessageTest, ReadApplyAndRestoreAsThePageDoes) {
    useLinter("cp \"$2\" '" + (tools / "linted.json").string() + "'; exit 0");
    const std::string original = R"({"profiles": [{"selected": true, "complex_modifications": {"rules": [
        {"description": "mine", "manipulators": [{"type": "basic", "parameters": {"n": 1.0E2}}]},
        {"description": "[Tarvel] old", "manipulators": [{"type": "basic"}]}]}}]})";
    writeFile(CoordinatorTest::config(), original);
    Json read = config();
    Json body = {{"title", "Keys"}, {"baseDigest", read["digest"]}, {"keep", {0}}, {"manipulators", Json::array()},
                 {"rules", {{{"name", "Caps"}, {"manipulators", someManipulators()}},
                            {{"name", "Off"}, {"enabled", false}, {"manipulators", someManipulators()}},
                            {{"name", "Nothing yet"}, {"manipulators", Json::array()}}}}};
    Json outcome = applied(body);
    ASSERT_EQ(outcome["ok"], true) << outcome;
    EXPECT_EQ(Json::parse(readFile(tools / "linted.json")),
              Json({{"title", "Keys"},
                    {"rules", {{{"description", "Keys: Caps"}, {"manipulators", someManipulators()}},
                               {{"description", "Keys: Off"}, {"enabled", false}, {"manipulators", someManipulators()}}}}}));
    const std::string written = readFile(CoordinatorTest::config());
    Json rules = config()["profiles"][0]["rules"];
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[0]["description"], "[Tarvel] Keys: Caps");
    EXPECT_EQ(rules[1]["enabled"], false);
    EXPECT_EQ(rules[2]["description"], "mine");

    // The same body again: the file is no longer the one it was made from.
    Json stale = applied(body);
    EXPECT_EQ(stale["code"], "changed");
    EXPECT_EQ(readFile(CoordinatorTest::config()), written);

    const std::string backup = fs::path(outcome["backupPath"].get<std::string>()).filename();
    EXPECT_EQ(restore({{"name", backup}, {"baseDigest", "sha256:" + sha256Hex("other")}})["code"], "changed");
    Json restored = restore({{"name", backup}, {"baseDigest", config()["digest"]}});
    ASSERT_EQ(restored["ok"], true) << restored;
    EXPECT_EQ(readFile(CoordinatorTest::config()), original);
    EXPECT_EQ(readFile(restored["backupPath"].get<std::string>()), written);
}

TEST_F(ConfigMessageTest, MalformedBodiesAreRefusedBeforeAnythingRuns) {
    useLinter("exit 0");
    const std::string before = readFile(CoordinatorTest::config());
    const std::string digest = "sha256:" + sha256Hex(before);
    const Json rule = {{"name", "r"}, {"manipulators", someManipulators()}};
    const Json ruleContent = {{"description", "r"}, {"manipulators", someManipulators()}};
    auto withValues = [&](const char* values) { return Json({{"baseDigest", digest}, {"ruleList", Json::array()}, {"values", Json::parse(values)}}); };
    auto with = [&](Json extra) {
        Json body = applyBody("t", someManipulators());
        body.update(extra);
        return body;
    };
    const Json applies[] = {
        Json(),
        Json("text"),
        Json::array({applyBody("t", someManipulators())}),
        Json({{"manipulators", someManipulators()}}),
        Json({{"title", 7}, {"manipulators", someManipulators()}}),
        Json({{"title", nullptr}, {"manipulators", someManipulators()}}),
        Json({{"title", "t"}}),
        Json({{"title", "t"}, {"manipulators", Json::object()}}),
        Json({{"title", "t"}, {"manipulators", Json::array({someManipulators()[0], "string"})}}),
        Json({{"title", "t"}, {"manipulators", Json::array({Json::array()})}}),
        Json({{"rules", {rule}}}),
        with({{"rules", rule}}),
        with({{"rules", {"rule"}}}),
        with({{"rules", {{{"manipulators", someManipulators()}}}}}),
        with({{"rules", {{{"name", 1}, {"manipulators", someManipulators()}}}}}),
        with({{"rules", {{{"name", "r"}, {"enabled", "yes"}, {"manipulators", someManipulators()}}}}}),
        with({{"rules", {{{"name", "r"}, {"manipulators", {1}}}}}}),
        with({{"rules", {{{"name", "r"}}}}}),
        with({{"baseDigest", "sha256:" + std::string(64, 'A')}}),
        with({{"baseDigest", sha256Hex(before)}}),
        with({{"baseDigest", 7}}),
        with({{"keep", {0}}}),  // indices mean something only with the digest of the file they index
        with({{"baseDigest", digest}, {"keep", 0}}),
        with({{"baseDigest", digest}, {"keep", {-1}}}),
        with({{"baseDigest", digest}, {"keep", {0.5}}}),
        with({{"baseDigest", digest}, {"keep", {0, 0}}}),
        with({{"profile", -1}}),
        with({{"profile", "0"}}),
        // The profile's final rule list.
        Json({{"ruleList", Json::array()}}),  // the digest is required
        Json({{"baseDigest", digest}, {"ruleList", {{"keep", 0}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {"keep"}}}),
        Json({{"baseDigest", digest}, {"ruleList", {Json::object()}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"keep", 0}, {"rule", ruleContent}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"keep", 0}, {"edit", 1}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"edit", 0}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"keep", -1}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"keep", 0}}, {{"edit", 0}, {"rule", ruleContent}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"rule", {{"description", "r"}}}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"rule", {{"description", 1}, {"manipulators", someManipulators()}}}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"rule", {{"enabled", "no"}, {"manipulators", someManipulators()}}}}}}}),
        Json({{"baseDigest", digest}, {"ruleList", {{{"rule", {{"manipulators", {1}}}}}}}}),
        withValues("{}"),
        withValues(R"([{"path": ["simple_modifications"]}])"),
        withValues(R"([{"path": ["parameters"], "value": {}}])"),
        withValues(R"([{"path": ["devices", "0", "fn_function_keys"], "value": []}])"),
        withValues(R"([{"path": ["devices", 0], "value": []}])"),
        withValues(R"([{"path": ["devices", 0, "simple_modifications", 1], "value": []}])"),
        withValues(R"([{"path": ["simple_modifications"], "value": {}}])"),
        withValues(R"([{"path": ["simple_modifications"], "value": [1]}])"),
        withValues(R"([{"path": ["complex_modifications", "parameters"], "value": []}])"),
        withValues(R"([{"path": ["fn_function_keys"], "value": []}, {"path": ["fn_function_keys"], "value": []}])"),
    };
    for (const auto& body : applies)
        EXPECT_EQ(applied(body), Json({{"ok", false}, {"error", "malformed apply message from the web view"}, {"code", "malformed"}})) << body;
    // A digest that is not one is malformed for a restore as for an apply.
    for (const Json& body : {Json(), Json("name"), Json({{"name", 1}}), Json({{"name", "x"}, {"baseDigest", 1}}),
                             Json({{"name", "x"}, {"baseDigest", "nope"}}), Json({{"name", "x"}, {"baseDigest", "sha256:" + std::string(64, 'A')}}),
                             Json({{"name", "x"}, {"baseDigest", sha256Hex(before)}})})
        EXPECT_EQ(restore(body), Json({{"ok", false}, {"error", "malformed restore message from the web view"}, {"code", "malformed"}})) << body;
    EXPECT_FALSE(fs::exists(linterRuns()));
    EXPECT_EQ(readFile(CoordinatorTest::config()), before);
    EXPECT_EQ(test::listing(folder()).size(), 1u);
}

TEST_F(ConfigMessageTest, AtMostTwentyThousandManipulatorsInTheRulesThatAreWritten) {
    useLinter("exit 0");
    auto list = [](std::size_t n) { return Json(std::vector<Json>(n, Json::object())); };
    const struct {
        Json body;
        bool accepted;
    } cases[] = {
        {applyBody("t", list(20000)), true},
        {applyBody("t", list(20001)), false},
        {{{"title", "t"}, {"rules", {{{"name", "a"}, {"manipulators", list(10000)}}, {{"name", "b"}, {"manipulators", list(10001)}}}}}, false},
        // Beside "rules", "manipulators" is not looked at.
        {{{"title", "t"}, {"manipulators", list(30000)}, {"rules", {{{"name", "a"}, {"manipulators", list(1)}}}}}, true},
    };
    for (const auto& c : cases) {
        Json outcome = applied(c.body);
        if (c.accepted) {
            EXPECT_EQ(outcome["ok"], true) << outcome;
        } else {
            EXPECT_EQ(outcome, Json({{"ok", false}, {"error", "the rule set has more than 20,000 manipulators"}, {"code", "tooManyManipulators"}}));
        }
    }
    EXPECT_EQ(readFile(linterRuns()), "run\nrun\n");
}

// The page states the profile's final rule list: rules kept (moved or not), edited in place, new;
// and the values it replaces. Only the new and edited rules are linted, together; the title and
// the old members are not looked at.
TEST_F(ConfigMessageTest, TheProfilesFinalRuleListAndValues) {
    useLinter("cp \"$2\" '" + (tools / "linted.json").string() + "'; exit 0");
    writeFile(CoordinatorTest::config(), R"({"profiles": [{"selected": true, "devices": [{"identifiers": {"vendor_id": 1}}],
        "complex_modifications": {"rules": [
            {"description": "A", "manipulators": [{"type": "basic", "from": {"key_code": "a"}}]},
            {"description": "B", "manipulators": [{"type": "basic", "from": {"key_code": "b"}}]}, // mine
            {"description": "C", "manipulators": [{"type": "basic", "parameters": {"n": 1.0E2}}]}]}}]})");
    Json read = config();
    const Json edited = {{"description", "A"}, {"enabled", false}, {"manipulators", {{{"type", "basic"}, {"from", {{"key_code", "a"}}}}}}};
    const Json added = {{"description", "New"}, {"manipulators", someManipulators()}};
    const Json modifications = Json::parse(R"([{"from": {"key_code": "caps_lock"}, "to": [{"key_code": "escape"}]}])");
    Json outcome = applied({{"baseDigest", read["digest"]},
                            {"title", 7},
                            {"keep", "not looked at"},
                            {"ruleList", {{{"keep", 2}}, {{"edit", 0}, {"rule", edited}}, {{"rule", added}}, {{"keep", 1}}}},
                            {"values", {{{"path", {"simple_modifications"}}, {"value", modifications}},
                                        {{"path", {"devices", 0, "fn_function_keys"}}, {"value", Json::array()}}}}});
    ASSERT_EQ(outcome["ok"], true) << outcome;
    EXPECT_EQ(Json::parse(readFile(tools / "linted.json")), Json({{"title", ""}, {"rules", {edited, added}}}));
    Json profile = config()["profiles"][0];
    EXPECT_EQ(profile["rules"], Json({read["profiles"][0]["rules"][2], edited, added, read["profiles"][0]["rules"][1]}));
    EXPECT_EQ(profile["simpleModifications"], modifications);
    EXPECT_EQ(profile["deviceSettings"][0]["fn_function_keys"], Json::array());
    EXPECT_EQ(profile["commentedRules"], Json({3}));
    const std::string text = readFile(CoordinatorTest::config());
    EXPECT_NE(text.find(R"("parameters": {"n": 1.0E2})"), std::string::npos) << "a kept rule keeps its bytes";

    // Only rules kept: nothing to lint.
    fs::remove(linterRuns());
    outcome = applied({{"baseDigest", config()["digest"]}, {"ruleList", {{{"keep", 1}}, {{"keep", 0}}}}});
    ASSERT_EQ(outcome["ok"], true) << outcome;
    EXPECT_FALSE(fs::exists(linterRuns()));

    // A device or rule that is not there; manipulators counted in the new and edited rules.
    const auto digest = config()["digest"];
    EXPECT_EQ(applied({{"baseDigest", digest}, {"ruleList", Json::array()}, {"values", {{{"path", {"devices", 3, "simple_modifications"}}, {"value", Json::array()}}}}}),
              Json({{"ok", false}, {"error", "the profile has no device 3"}, {"code", "noSuchDevice"}}));
    EXPECT_EQ(applied({{"baseDigest", digest}, {"ruleList", {{{"edit", 7}, {"rule", added}}}}}),
              Json({{"ok", false}, {"error", "the profile has no rule 7"}, {"code", "noSuchRule"}}));
    Json many = {{"description", "many"}, {"manipulators", Json(std::vector<Json>(10001, Json::object()))}};
    EXPECT_EQ(applied({{"baseDigest", digest}, {"ruleList", {{{"rule", many}}, {{"edit", 0}, {"rule", many}}}}})["code"], "tooManyManipulators");
}

} // namespace
} // namespace tarvel
