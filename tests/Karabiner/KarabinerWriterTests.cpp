#include <gtest/gtest.h>

#include <regex>

#include "Karabiner/KarabinerWriter.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::listing;
using test::readFile;
using test::writeFile;

class KarabinerWriterTest : public ::testing::Test {
protected:
    fs::path folder() const { return home / ".config/karabiner"; }
    fs::path config() const { return folder() / "karabiner.json"; }

    void writeConfig(const Json& value) { writeFile(config(), value.dump(2)); }
    Json readConfig() const { return Json::parse(readFile(config())); }

    Result<KarabinerApplyResult, KarabinerApplyError> apply(std::string_view title, const Json& manipulators) {
        return KarabinerWriter::apply(title, manipulators, config(), fileManager);
    }
    std::string failure(std::string_view title, const Json& manipulators) {
        auto result = apply(title, manipulators);
        return result ? std::string("(succeeded)") : localizedDescription(result.error());
    }
    std::set<std::string> backups() const {
        std::set<std::string> names;
        for (const auto& name : listing(folder()))
            if (name.rfind("karabiner.backup-", 0) == 0) names.insert(name);
        return names;
    }

    test::TemporaryDirectory home;
    test::ScriptedFileManager fileManager;
    const Json manipulator = Json::parse(R"({"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}]})");
    const Json oneManipulator = Json::array({manipulator});
};

TEST_F(KarabinerWriterTest, ChangesTheFirstSelectedProfileOrElseTheFirst) {
    auto rulesOf = [&](std::size_t i) { return readConfig()["profiles"][i]["complex_modifications"]["rules"]; };

    writeConfig({{"profiles", {{{"name", "A"}}, {{"name", "B"}}}}});
    ASSERT_TRUE(apply("t", oneManipulator));
    EXPECT_EQ(rulesOf(0).size(), 1u);
    EXPECT_FALSE(readConfig()["profiles"][1].contains("complex_modifications"));

    writeConfig({{"profiles", {{{"name", "A"}, {"selected", "true"}}, {{"name", "B"}, {"selected", true}}, {{"name", "C"}, {"selected", true}}}}});
    ASSERT_TRUE(apply("t", oneManipulator));
    EXPECT_FALSE(readConfig()["profiles"][0].contains("complex_modifications"));
    EXPECT_EQ(rulesOf(1).size(), 1u);
    EXPECT_FALSE(readConfig()["profiles"][2].contains("complex_modifications"));
}

TEST_F(KarabinerWriterTest, ReplacesEveryEarlierRuleWithOneMarkedRule) {
    Json rules = Json::array();
    for (int i = 0; i < 10; ++i)
        rules.push_back({{"description", i % 2 ? "[Tarvel] old" : "mine"}, {"manipulators", oneManipulator}});
    Json parameters = {{"basic.to_if_alone_timeout_milliseconds", 300}};
    writeConfig({{"profiles", {{{"selected", true}, {"complex_modifications", {{"parameters", parameters}, {"rules", rules}}}}}}});

    ASSERT_TRUE(apply("Home row", oneManipulator));
    auto complex = readConfig()["profiles"][0]["complex_modifications"];
    EXPECT_EQ(complex["parameters"], parameters);
    EXPECT_EQ(complex["rules"], Json::array({{{"description", "[Tarvel] Home row"}, {"manipulators", oneManipulator}}}));

    ASSERT_TRUE(apply("", oneManipulator));
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"]["rules"][0]["description"], "[Tarvel] ");
}

TEST_F(KarabinerWriterTest, AMissingOrMistypedComplexModificationsBecomesAnObjectOfRules) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    ASSERT_TRUE(apply("t", oneManipulator));
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"],
              Json({{"rules", {{{"description", "[Tarvel] t"}, {"manipulators", oneManipulator}}}}}));

    writeConfig({{"profiles", {{{"complex_modifications", Json::array({1, 2})}}}}});
    ASSERT_TRUE(apply("t", Json::array()));
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"], Json({{"rules", Json::array()}}));
}

TEST_F(KarabinerWriterTest, AnEmptyRuleSetStillBacksUpBesideTheFileAndRemovesAllRules) {
    writeConfig({{"profiles", {{{"complex_modifications", {{"rules", {{{"description", "x"}, {"manipulators", oneManipulator}}}}}}}}}});
    const std::string before = readFile(config());
    auto result = apply("t", Json::array());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->backupURL.parent_path(), folder());
    EXPECT_TRUE(std::regex_match(result->backupURL.filename().string(), std::regex(R"(karabiner\.backup-\d{8}-\d{6}\.json)")));
    EXPECT_EQ(readFile(result->backupURL), before);
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"]["rules"], Json::array());
}

TEST_F(KarabinerWriterTest, KeepsEveryUntouchedMemberWithItsValueAndType) {
    Json original = Json::parse(R"({
        "global": {"check_for_updates_on_startup": true, "show_in_menu_bar": false},
        "machine_specific": {"krbn-1": {"enable_multitouch_extension": true}},
        "unknown_root_member": [1, 2.5, "三", null, {"nested": -0.125}],
        "profiles": [
            {"name": "Default", "selected": true, "virtual_hid_keyboard": {"keyboard_type_v2": "ansi", "mouse_key_xy_scale": 100},
             "devices": [{"identifiers": {"vendor_id": 1452, "product_id": 641, "is_keyboard": true}, "ignore": false}],
             "complex_modifications": {"parameters": {"basic.simultaneous_threshold_milliseconds": 50.0}, "rules": []}},
            {"name": "Gaming", "complex_modifications": {"rules": [{"description": "keep me", "manipulators": [{"type": "basic"}]}]}}
        ]})");
    writeConfig(original);
    ASSERT_TRUE(apply("t", oneManipulator));

    Json written = readConfig();
    Json expected = original;
    expected["profiles"][0]["complex_modifications"]["rules"] = Json::array({{{"description", "[Tarvel] t"}, {"manipulators", oneManipulator}}});
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(written["profiles"][0]["complex_modifications"]["parameters"]["basic.simultaneous_threshold_milliseconds"].is_number_float());
    EXPECT_TRUE(written["profiles"][0]["devices"][0]["identifiers"]["vendor_id"].is_number_integer());
}

TEST_F(KarabinerWriterTest, WritesTheWayKarabinerElementsDoesAndKeepsTheFilePrivate) {
    writeConfig({{"profiles", {{{"name", "日本語"}, {"b", 1}, {"a", 2}}}}});
    fs::permissions(config(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(apply("タイトル", oneManipulator));
    const std::string text = readFile(config());
    EXPECT_EQ(text.rfind("{\n    \"profiles\": [\n        {\n            \"a\": 2,\n            \"b\": 1,", 0), 0u) << text;
    EXPECT_NE(text.find("\"[Tarvel] タイトル\""), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "}\n");
    EXPECT_EQ(test::permissionBits(config()), 0600u);
}

TEST_F(KarabinerWriterTest, RefusesFilesItCannotUnderstandAndTouchesNothing) {
    const std::string notFound = failure("t", oneManipulator);
    EXPECT_EQ(notFound, "karabiner.json not found at " + config().string());
    EXPECT_FALSE(fs::exists(folder()));

    struct Case {
        std::string content, message;
    } cases[] = {
        {"[{\"profiles\": []}]", "karabiner.json is not valid JSON"},
        {R"({"profiles": []})", "karabiner.json has no profiles"},
        {R"({"profiles": [1, {}]})", "karabiner.json has no profiles"},
        {R"({"profiles": {"name": "x"}})", "karabiner.json has no profiles"},
        {R"({"global": {}})", "karabiner.json has no profiles"},
        {"42", "parse error at line 1, column 1: JSON text did not start with array or object"},
    };
    for (const auto& c : cases) {
        writeFile(config(), c.content);
        EXPECT_EQ(failure("t", oneManipulator), c.message) << c.content;
        EXPECT_EQ(readFile(config()), c.content);
        EXPECT_TRUE(backups().empty());
    }

    writeFile(config(), "{\"profiles\": [\n");
    const std::string parserMessage = failure("t", oneManipulator);
    EXPECT_EQ(parserMessage.rfind("parse error at line 2, column 1: syntax error", 0), 0u) << parserMessage;
    EXPECT_TRUE(backups().empty());

    fs::remove(config());
    fs::create_directories(config());
    EXPECT_NE(failure("t", oneManipulator).find("Is a directory"), std::string::npos);
}

TEST_F(KarabinerWriterTest, ASecondApplyInTheSameSecondKeepsBothBackups) {
    writeConfig({{"profiles", {{{"name", "original"}}}}});
    const std::string original = readFile(config());
    // Retry until both applies fall into one second (the first attempt nearly always does).
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (const auto& name : backups()) fs::remove(folder() / name);
        writeFile(config(), original);
        auto first = apply("one", oneManipulator);
        const std::string afterFirst = readFile(config());
        auto second = apply("two", oneManipulator);
        ASSERT_TRUE(first && second);
        const std::string stamp = first->backupURL.filename().string().substr(17, 15);
        if (second->backupURL.filename().string().find(stamp) == std::string::npos) continue;

        EXPECT_EQ(second->backupURL.filename().string(), "karabiner.backup-" + stamp + "-2.json");
        EXPECT_EQ(readFile(first->backupURL), original);
        EXPECT_EQ(readFile(second->backupURL), afterFirst);
        EXPECT_EQ(backups().size(), 2u);
        return;
    }
    FAIL() << "two applies never fell into the same second";
}

TEST_F(KarabinerWriterTest, AFailedBackupStopsTheApply) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    const std::string before = readFile(config());
    fileManager.copyFailure = Error{"could not copy karabiner.json: Permission denied", EACCES};
    EXPECT_EQ(failure("t", oneManipulator), "could not back up karabiner.json: could not copy karabiner.json: Permission denied");
    EXPECT_EQ(readFile(config()), before);
    EXPECT_TRUE(backups().empty());
}

TEST_F(KarabinerWriterTest, AFailedSerializationLeavesTheFileAndKeepsTheNewBackup) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    const std::string before = readFile(config());
    Json broken = Json::array({{{"type", "basic"}, {"description", std::string("\xff")}}});
    const std::string message = failure("t", broken);
    EXPECT_EQ(message.rfind("could not write karabiner.json: ", 0), 0u) << message;
    EXPECT_EQ(readFile(config()), before);
    EXPECT_EQ(backups().size(), 1u);
}

TEST_F(KarabinerWriterTest, ALinkedConfigurationKeepsItsLinkAndGetsARealBackup) {
    const fs::path dotfiles = home / "dotfiles/karabiner.json";
    writeFile(dotfiles, Json({{"profiles", {{{"name", "linked"}}}}}).dump());
    const std::string before = readFile(dotfiles);
    fs::create_directories(folder());
    fs::create_symlink(dotfiles, config());

    auto result = apply("t", oneManipulator);
    ASSERT_TRUE(result);
    EXPECT_TRUE(fs::is_symlink(config()));
    EXPECT_EQ(fs::read_symlink(config()), dotfiles);
    EXPECT_FALSE(fs::is_symlink(result->backupURL));
    EXPECT_EQ(readFile(result->backupURL), before);
    EXPECT_EQ(Json::parse(readFile(dotfiles))["profiles"][0]["complex_modifications"]["rules"].size(), 1u);
    EXPECT_EQ(listing(home / "dotfiles"), std::set<std::string>{"karabiner.json"});
}

} // namespace
} // namespace tarvel
