#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <atomic>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "Karabiner/ApplyCheck.h"
#include "Karabiner/KarabinerWriter.h"
#include "Platform/FileDescriptor.h"
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
    Json readConfig() const { return Json::parse(readFile(config()), nullptr, true, true); }

    Result<KarabinerApplyResult, KarabinerApplyError> apply(std::string_view title, const Json& manipulators) {
        return KarabinerWriter::apply(title, manipulators, config(), fileManager);
    }
    Result<KarabinerApplyResult, KarabinerApplyError> apply(const KarabinerApplyRequest& request) {
        return KarabinerWriter::apply(request, config(), fileManager);
    }
    template <class Outcome>
    static std::string failureOf(const Outcome& result) {
        return result ? std::string("(succeeded)") : localizedDescription(result.error());
    }
    std::string failure(std::string_view title, const Json& manipulators) { return failureOf(apply(title, manipulators)); }
    std::set<std::string> backups() const {
        std::set<std::string> names;
        for (const auto& name : listing(folder()))
            if (name.rfind("karabiner.backup-", 0) == 0) names.insert(name);
        return names;
    }
    KarabinerApplyRequest request(std::vector<std::size_t> keep = {}) const {
        KarabinerApplyRequest r;
        r.rules = {TarvelRule{"Caps: Escape", true, oneManipulator}, TarvelRule{"Caps: Off", false, oneManipulator}};
        r.keep = std::move(keep);
        r.baseDigest = KarabinerWriter::digest(readFile(config()));
        return r;
    }

    test::TemporaryDirectory home;
    test::ScriptedFileManager fileManager;
    const Json manipulator = Json::parse(R"({"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "left_control"}]})");
    const Json oneManipulator = Json::array({manipulator});
};

TEST_F(KarabinerWriterTest, ReplacesTheRulesOfTheFirstSelectedProfileOrElseTheFirstWithOneMarkedRule) {
    auto rule = [&](const std::string& title) { return Json{{"description", "[Tarvel] " + title}, {"manipulators", oneManipulator}}; };
    auto rules = [](std::vector<Json> list) { return Json{{"rules", list}}; };
    Json earlier = Json::array();
    for (int i = 0; i < 10; ++i) earlier.push_back({{"description", i % 2 ? "[Tarvel] old" : "mine"}, {"manipulators", oneManipulator}});
    const Json parameters = {{"basic.to_if_alone_timeout_milliseconds", 300}};
    const struct {
        const char* what;
        Json profiles;
        std::string title;
        Json manipulators;
        std::vector<Json> expected;  // each profile's complex_modifications afterwards; null: none
    } cases[] = {
        {"none selected: the first", Json::parse(R"([{"name": "A"}, {"name": "B"}])"), "t", oneManipulator, {rules({rule("t")}), nullptr}},
        {"the first whose selected is true",
         Json::parse(R"([{"name": "A", "selected": "true"}, {"name": "B", "selected": true}, {"name": "C", "selected": true}])"), "t",
         oneManipulator, {nullptr, rules({rule("t")}), nullptr}},
        {"every earlier rule goes, the parameters and another profile's rules stay",
         Json::array({{{"selected", true}, {"complex_modifications", {{"parameters", parameters}, {"rules", earlier}}}},
                      {{"complex_modifications", rules({earlier[0]})}}}),
         "Home row", oneManipulator, {Json{{"parameters", parameters}, {"rules", Json::array({rule("Home row")})}}, rules({earlier[0]})}},
        {"an empty title is the marker alone", Json::parse(R"([{"name": "A"}])"), "", oneManipulator, {rules({rule("")})}},
        {"complex_modifications of another type", Json::parse(R"([{"complex_modifications": [1, 2]}])"), "t", Json::array(), {rules({})}},
    };
    for (const auto& c : cases) {
        writeConfig({{"profiles", c.profiles}});
        ASSERT_TRUE(apply(c.title, c.manipulators)) << c.what;
        const Json profiles = readConfig()["profiles"];
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(profiles[i].value("complex_modifications", Json()), c.expected[i]) << c.what << ", profile " << i;
    }

    // The page may name another profile.
    writeConfig({{"profiles", cases[1].profiles}});
    auto other = request();
    other.profile = 2;
    ASSERT_TRUE(apply(other));
    EXPECT_EQ(readConfig()["profiles"][2]["complex_modifications"]["rules"].size(), 2u);
    other.profile = 3;
    other.baseDigest = KarabinerWriter::digest(readFile(config()));
    auto missing = apply(other);
    ASSERT_FALSE(missing);
    EXPECT_EQ(errorCode(missing.error()), "noSuchProfile");
}

TEST_F(KarabinerWriterTest, SeveralRulesComeFirstAndTheKeptRulesFollowWithTheirBytes) {
    // Number spellings, escapes, comments and odd spacing inside a kept rule survive as they are.
    const std::string kept0 = R"({ "description": "mine \u00e9", /* note */ "manipulators": [ {"type":"basic","parameters":{"x": 1.0E2, "y": 18446744073709551616}} ] })";
    const std::string kept2 = R"({"description": "third", "manipulators": [{"type": "basic"}], "enabled": false})";
    writeFile(config(), "{\n  \"profiles\": [\n    {\n      \"complex_modifications\": {\n        \"rules\": [\n          " + kept0 +
                            ",\n          {\"description\": \"[Tarvel] old\", \"manipulators\": [{\"type\": \"basic\"}]},\n          " + kept2 +
                            "\n        ]\n      }\n    }\n  ]\n}\n");
    ASSERT_TRUE(apply(request({2, 0})));
    const std::string text = readFile(config());
    EXPECT_NE(text.find(kept0), std::string::npos) << text;
    EXPECT_NE(text.find(kept2), std::string::npos) << text;
    EXPECT_LT(text.find(kept2), text.find(kept0));

    Json rules = readConfig()["profiles"][0]["complex_modifications"]["rules"];
    ASSERT_EQ(rules.size(), 4u);
    EXPECT_EQ(rules[0], Json({{"description", "[Tarvel] Caps: Escape"}, {"manipulators", oneManipulator}}));
    EXPECT_EQ(rules[1], Json({{"description", "[Tarvel] Caps: Off"}, {"enabled", false}, {"manipulators", oneManipulator}}));
    EXPECT_EQ(rules[2]["description"], "third");

    auto bad = apply(request({7}));
    ASSERT_FALSE(bad);
    EXPECT_EQ(errorCode(bad.error()), "noSuchRule");
}

// Every new line repeats the indentation around it: a hostile one stays bounded.
TEST_F(KarabinerWriterTest, AnAbsurdIndentationIsNotRepeatedOnEveryNewLine) {
    const std::string wide(100'000, ' ');
    writeFile(config(), "{\n" + wide + "\"profiles\": [{\"name\": \"A\"}]\n}\n");
    const auto before = fs::file_size(config());
    ASSERT_TRUE(apply(request({})));
    EXPECT_LT(fs::file_size(config()), before + 16 * 1024);
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"]["rules"].size(), 2u);
}

// Each fixture is a shape real files have; the apply adds two rules and keeps every other rule.
// Everything else (global settings, devices, other profiles) reads as before: sameAsFullRewrite.
TEST_F(KarabinerWriterTest, EveryFixtureKeepsWhatTarvelDidNotWrite) {
    const struct {
        const char* file;
        const char* changed;  // where the bytes changed
        bool karabinerWritten;  // our formatter gives back exactly its bytes
    } cases[] = {
        {"karabiner-elements-written.json", "rules value", true},
        {"karabiner-elements-parameters-only.json", "re-laid", true},
        {"karabiner-elements-no-complex-modifications.json", "insertion", true},
        {"karabiner-elements-example.jsonc", "rules value", false},
        {"comments.jsonc", "rules value", false},
        {"duplicate-keys.json", "rules value", false},
        {"big-numbers.json", "rules value", false},
        {"bom.json", "re-laid", false},
        {"crlf.json", "insertion", false},
        {"no-final-newline.json", "rules value", false},
        {"one-line-complex-modifications.json", "re-laid", true},
        {"minified.json", "rules value", false},
        {"tabs.json", "insertion", false},
        {"deep-other-profile.json", "re-laid", false},
    };
    const fs::path fixtures = TARVEL_FIXTURES_DIR "/karabiner";
    for (const auto& c : cases) {
        const std::string original = readFile(fixtures / c.file);
        ASSERT_FALSE(original.empty()) << c.file;
        auto span = test::rulesSpan(original, std::nullopt);
        std::vector<std::size_t> every;
        if (span && original[span->begin] == '[')
            for (std::size_t i = 0; i < jsonc::elements(original, span->begin).size(); ++i) every.push_back(i);

        for (bool keepAll : {true, false}) {
            KarabinerApplyRequest r;
            r.rules = {TarvelRule{"T: one", true, oneManipulator}, TarvelRule{"T: two", false, oneManipulator}};
            if (keepAll) r.keep = every;
            r.baseDigest = KarabinerWriter::digest(original);
            auto check = test::checkApply(original, r, home / "fixture");
            SCOPED_TRACE(std::string(c.file) + (keepAll ? " keeping every rule" : " keeping none") + "\n" + check.result);
            ASSERT_EQ(check.error, "");
            EXPECT_EQ(check.changed.find(c.changed) != std::string::npos, true) << check.changed;
            EXPECT_TRUE(check.sameAsFullRewrite);
            EXPECT_EQ(check.karabinerWritten, c.karabinerWritten);
            EXPECT_EQ(check.asKarabinerWrites, c.karabinerWritten);
            EXPECT_EQ(original.starts_with("\xEF\xBB\xBF"), check.result.starts_with("\xEF\xBB\xBF"));
            EXPECT_EQ(original.back() == '\n', check.result.back() == '\n');
            EXPECT_EQ(original.find("\r\n") != std::string::npos, check.result.find("\r\n") != std::string::npos);
            EXPECT_FALSE(original.find("\r\n") != std::string::npos && std::regex_search(check.result, std::regex("[^\r]\n")))
                << "every inserted line ends in CR LF";
            for (std::string_view comment : {"// trailing comment", "// after the rules", "/* the end */"})
                EXPECT_EQ(original.find(comment) != std::string::npos, check.result.find(comment) != std::string::npos) << comment;
            // A comment inside a rule goes with the rule.
            EXPECT_EQ(original.find("/* inline */") != std::string::npos && keepAll, check.result.find("/* inline */") != std::string::npos);
        }
        // Removing every rule: a file Karabiner-Elements wrote still comes out as it writes it.
        KarabinerApplyRequest none;
        auto emptied = test::checkApply(original, none, home / "fixture");
        ASSERT_EQ(emptied.error, "") << c.file;
        EXPECT_TRUE(emptied.sameAsFullRewrite) << c.file;
        EXPECT_EQ(emptied.asKarabinerWrites, c.karabinerWritten) << c.file << "\n" << emptied.result;
    }
}

TEST_F(KarabinerWriterTest, RefusesFilesItCannotUnderstandAndTouchesNothing) {
    const std::string notFound = failure("t", oneManipulator);
    EXPECT_EQ(notFound, "karabiner.json not found at " + config().string());
    EXPECT_FALSE(fs::exists(folder()));

    const std::string notAnObject = "karabiner.json is not a Karabiner-Elements configuration: its top level is not an object";
    struct Case {
        std::string content, message, code;
    } cases[] = {
        {"[{\"profiles\": []}]", notAnObject, "notAnObject"},
        {"42", notAnObject, "notAnObject"},
        {R"({"profiles": []})", "karabiner.json has no profiles", "noProfiles"},
        {R"({"profiles": [1, {}]})", "karabiner.json has no profiles", "noProfiles"},
        {R"({"profiles": {"name": "x"}})", "karabiner.json has no profiles", "noProfiles"},
        {R"({"global": {}})", "karabiner.json has no profiles", "noProfiles"},
        {"{\"profiles\": [\n", "karabiner.json is not valid JSON at line 2, column 1: the document ends too early", "syntax"},
        {"{\"profiles\": [{},\n]}", "karabiner.json has a trailing comma at line 1, column 17; Karabiner-Elements does not accept it either",
         "trailingComma"},
        {"{\"profiles\": [{\"x\": 2e308}]}", "karabiner.json has a number out of range at line 1, column 21", "numberOutOfRange"},
        {"{\"profiles\": [{\"name\": \"a\"}, {\"x\": " + std::string(10000, '[') + std::string(10000, ']') + "}]}",
         "karabiner.json is nested deeper than 256 levels at line 1, column 289; Tarvel leaves it as it is", "tooDeep"},
    };
    for (const auto& c : cases) {
        writeFile(config(), c.content);
        auto result = apply("t", oneManipulator);
        ASSERT_FALSE(result) << c.content;
        EXPECT_EQ(localizedDescription(result.error()), c.message) << c.content.substr(0, 60);
        EXPECT_EQ(errorCode(result.error()), c.code);
        EXPECT_EQ(readFile(config()), c.content);
        EXPECT_TRUE(backups().empty());
    }

    fs::remove(config());
    fs::create_directories(config());
    EXPECT_NE(failure("t", oneManipulator).find("Is a directory"), std::string::npos);
}

TEST_F(KarabinerWriterTest, ARefusalLeavesTheFileWhenItChangedIsReadOnlyOrCannotBeWrittenOut) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    const std::string before = readFile(config());
    auto stale = request();
    stale.baseDigest = KarabinerWriter::digest("something else");
    auto changed = apply(stale);
    ASSERT_FALSE(changed);
    EXPECT_EQ(localizedDescription(changed.error()), "karabiner.json changed since Tarvel read it; reload to see the change");
    EXPECT_EQ(errorCode(changed.error()), "changed");

    // Root may write anything; the bits say what the user meant.
    fs::permissions(config(), fs::perms(0444));
    auto readOnly = apply(request());
    ASSERT_FALSE(readOnly);
    EXPECT_EQ(localizedDescription(readOnly.error()), "karabiner.json: the file is read-only; Tarvel leaves it as it is");

    // Rules that cannot be written out.
    fs::permissions(config(), fs::perms(0644));
    const std::string message = failure("t", Json::array({{{"type", "basic"}, {"description", std::string("\xff")}}}));
    EXPECT_EQ(message.rfind("could not write karabiner.json: ", 0), 0u) << message;
    EXPECT_EQ(readFile(config()), before);
    EXPECT_TRUE(backups().empty());
}

// Another program writes karabiner.json while Tarvel holds its bytes: Tarvel's write is refused
// and the other program's change stays.
TEST_F(KarabinerWriterTest, AChangeMadeBetweenReadingAndWritingIsNotLost) {
    class Meddling : public test::ScriptedFileManager {
    public:
        std::function<void()> duringBackup;
        std::optional<Error> linkItem(const fs::path& from, const fs::path& to) override {
            if (duringBackup) std::exchange(duringBackup, nullptr)();
            return ScriptedFileManager::linkItem(from, to);
        }
    } meddling;
    for (bool inPlace : {false, true}) {
        writeConfig({{"profiles", {{{"name", "A"}}}}});
        const std::string theirs = Json({{"profiles", {{{"name", "theirs"}}}}}).dump(4);
        meddling.duringBackup = [&] {
            if (inPlace) {
                std::ofstream(config(), std::ios::trunc) << theirs;
            } else {
                writeFile(folder() / "karabiner.json.tmp", theirs);
                fs::rename(folder() / "karabiner.json.tmp", config());
            }
        };
        auto result = KarabinerWriter::apply("t", oneManipulator, config(), meddling);
        ASSERT_FALSE(result);
        EXPECT_EQ(errorCode(result.error()), "changed");
        EXPECT_EQ(readFile(config()), theirs);
        for (const auto& name : backups()) {
            EXPECT_NE(readFile(folder() / name), theirs) << "a backup never shares the live file";
            fs::remove(folder() / name);
        }
    }
}

// Another program saves by renaming its file into place at the last moment: after every check
// Tarvel makes, just before (or while) Tarvel's file takes the name. The save stays, the apply says
// "changed", and every version the other program wrote is still somewhere.
TEST_F(KarabinerWriterTest, AnOutsideSaveAtTheLastMomentIsNeverReplaced) {
    class LateSave : public test::ScriptedFileManager {
    public:
        std::vector<std::function<void()>> saves;  // one before each exchange or rename, in turn
        std::optional<Error> exchangeFailure;
        std::optional<Error> exchangeItems(const fs::path& a, const fs::path& b) override {
            next();
            if (exchangeFailure) return exchangeFailure;
            return ScriptedFileManager::exchangeItems(a, b);
        }
        std::optional<Error> moveItem(const fs::path& from, const fs::path& to) override {
            next();
            return ScriptedFileManager::moveItem(from, to);
        }
        void next() {
            if (saves.empty()) return;
            auto save = std::move(saves.front());
            saves.erase(saves.begin());
            if (save) save();
        }
    } late;
    const fs::path dotfiles = home / "dotfiles/karabiner.json";
    auto saveAs = [&](const fs::path& target, const std::string& bytes) {
        return [target, bytes] {
            writeFile(target.parent_path() / "karabiner.json.tmp", bytes);
            fs::rename(target.parent_path() / "karabiner.json.tmp", target);
        };
    };
    const std::string first = Json({{"profiles", {{{"name", "theirs"}}}}}).dump(4);
    const std::string second = Json({{"profiles", {{{"name", "theirs, again"}}}}}).dump(4);
    for (bool linked : {false, true}) {
        const fs::path target = linked ? dotfiles : config();
        const struct {
            const char* what;
            std::vector<std::function<void()>> saves;
            std::string live;                // afterwards
            std::vector<std::string> backedUp;  // besides the file Tarvel read
        } cases[] = {
            {"a save renamed into place", {saveAs(target, first)}, first, {}},
            {"a save written in place", {[&] { std::ofstream(target, std::ios::trunc) << first; }}, first, {}},
            // The later save stays in place; the earlier one, which it would have replaced had Tarvel not
            // been there, is kept as a backup.
            {"a second save between the exchange and the exchange back", {saveAs(target, first), saveAs(target, second)}, second, {first}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (linked ? ", through a link" : ""));
            fs::remove_all(folder());
            fs::remove_all(dotfiles.parent_path());
            writeFile(target, Json({{"profiles", {{{"name", "read"}}}}}).dump());
            fs::create_directories(folder());
            if (linked) fs::create_symlink(dotfiles, config());
            const std::string read = readFile(target);
            late.saves = c.saves;
            auto result = KarabinerWriter::apply("t", oneManipulator, config(), late);
            ASSERT_FALSE(result);
            EXPECT_EQ(errorCode(result.error()), "changed");
            EXPECT_EQ(readFile(config()), c.live);
            std::multiset<std::string> kept;
            for (const auto& name : backups()) kept.insert(readFile(folder() / name));
            std::multiset<std::string> expected(c.backedUp.begin(), c.backedUp.end());
            kept.erase(read);
            EXPECT_EQ(kept, expected);
            for (const auto& name : listing(target.parent_path())) EXPECT_FALSE(name.starts_with(".karabiner.json.tarvel-")) << name;
        }
    }
    // Where the file system cannot exchange, the file is renamed into place after a last check.
    fs::remove_all(folder());
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    late.saves = {};
    late.exchangeFailure = Error{"could not exchange: Invalid argument", EINVAL};
    ASSERT_TRUE(KarabinerWriter::apply("t", oneManipulator, config(), late));
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"]["rules"].size(), 1u);
}

// The new name of the backup is in the configuration's folder, the new file in the folder a link
// leads to: both are made durable, the backup's before the file is replaced.
TEST_F(KarabinerWriterTest, BothFoldersAreSyncedWhenTheConfigurationIsALink) {
    class Recording : public test::ScriptedFileManager {
    public:
        std::vector<std::string> events;
        std::optional<Error> syncFolder(const fs::path& folder) override {
            events.push_back("sync " + folder.string());
            return ScriptedFileManager::syncFolder(folder);
        }
        std::optional<Error> exchangeItems(const fs::path& a, const fs::path& b) override {
            events.push_back("replace");
            return ScriptedFileManager::exchangeItems(a, b);
        }
        std::optional<Error> moveItem(const fs::path& from, const fs::path& to) override {
            events.push_back("replace");
            return ScriptedFileManager::moveItem(from, to);
        }
    } recording;
    const fs::path dotfiles = home / "dotfiles/karabiner.json";
    writeFile(dotfiles, Json({{"profiles", {{{"name", "linked"}}}}}).dump());
    fs::create_directories(folder());
    fs::create_symlink(dotfiles, config());
    ASSERT_TRUE(KarabinerWriter::apply("t", oneManipulator, config(), recording));
    EXPECT_EQ(recording.events, (std::vector<std::string>{"sync " + folder().string(), "replace", "sync " + dotfiles.parent_path().string()}));

    recording.events.clear();
    fs::remove(config());
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    ASSERT_TRUE(KarabinerWriter::apply("t", oneManipulator, config(), recording));
    EXPECT_EQ(recording.events, (std::vector<std::string>{"replace", "sync " + folder().string()}));
}

// A backup's name swapped for a link to a file outside the folder, between Tarvel's look at the
// name and its reading: the outside file's bytes never reach karabiner.json.
TEST_F(KarabinerWriterTest, ARestoreNeverReadsThroughALinkSwappedInForTheBackup) {
    class Swapping : public test::ScriptedFileManager {
    public:
        fs::path backup, outside;
        Result<FileContent, Error> readFile(const fs::path& path, const ReadOptions& options) override {
            if (path == backup) {
                fs::remove(backup);
                fs::create_symlink(outside, backup);
            }
            return ScriptedFileManager::readFile(path, options);
        }
    } swapping;
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    const std::string current = readFile(config());
    swapping.backup = writeFile(folder() / "karabiner.backup-20200101-000000.json", "{\"profiles\": [{\"name\": \"backup\"}]}");
    swapping.outside = writeFile(home / "elsewhere.json", "{\"profiles\": [{\"name\": \"not yours\"}]}");
    auto result = KarabinerWriter::restore("karabiner.backup-20200101-000000.json", std::nullopt, config(), swapping);
    ASSERT_FALSE(result);
    EXPECT_EQ(errorCode(result.error()), "noSuchBackup");
    EXPECT_EQ(readFile(config()), current);
}

// Another program replacing the file while the backup's second name is made: the name is gone for
// a moment. That is a change of the file, not a failure to back it up.
TEST_F(KarabinerWriterTest, ABackupThatFindsTheFileGoneMeansTheFileChanged) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    const std::string before = readFile(config());
    fileManager.linkFailure = Error{"could not link: No such file or directory", ENOENT};
    auto result = apply("t", oneManipulator);
    ASSERT_FALSE(result);
    EXPECT_EQ(errorCode(result.error()), "changed");
    EXPECT_EQ(readFile(config()), before);
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
        auto second = apply("two", Json::array());  // an empty rule set is backed up too
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->backupURL.parent_path(), folder());
        EXPECT_TRUE(std::regex_match(first->backupURL.filename().string(), std::regex(R"(karabiner\.backup-\d{8}-\d{6}\.json)")));
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

TEST_F(KarabinerWriterTest, ABackupIsAlwaysCompleteAndNeverTakesANameInUse) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    const std::string before = readFile(config());
    // Across file systems the file is copied under a temporary name first.
    class AcrossDevices : public test::ScriptedFileManager {
    public:
        fs::path config;
        std::optional<Error> linkItem(const fs::path& from, const fs::path& to) override {
            if (from == config) return Error{"could not link: Invalid cross-device link", EXDEV};
            return ScriptedFileManager::linkItem(from, to);
        }
    } across;
    across.config = config();
    auto copied = KarabinerWriter::backup(config(), across);
    ASSERT_TRUE(copied);
    EXPECT_EQ(readFile(*copied), before);
    auto linked = KarabinerWriter::backup(config(), fileManager);
    ASSERT_TRUE(linked);
    EXPECT_NE(*linked, *copied);
    EXPECT_EQ(readFile(*linked), before);
    EXPECT_EQ(listing(folder()).size(), 3u) << "no temporary file stays";

    fileManager.linkFailure = Error{"could not link: Permission denied", EACCES};
    EXPECT_EQ(failure("t", oneManipulator), "could not back up karabiner.json: could not link: Permission denied");
    EXPECT_EQ(readFile(config()), before);
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

TEST_F(KarabinerWriterTest, TheFileKeepsItsModeAndRunAsRootItsOwnerAndGroup) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    fs::permissions(config(), fs::perms(0640));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(config().c_str(), 4242, 4343), 0);
    }
    ASSERT_TRUE(apply("t", oneManipulator));
    EXPECT_EQ(test::permissionBits(config()), 0640u);
    struct stat st {};
    ASSERT_EQ(::stat(config().c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, 4242u);
        EXPECT_EQ(st.st_gid, 4343u);
    }
}

// Also a backup name that is still the live file: an apply killed between linking its backup and
// renaming the new file never happened, and that name would follow every later edit made in place.
TEST_F(KarabinerWriterTest, WhatADeadApplyLeftGoesWithTheNextOne) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    for (const char* name : {".karabiner.json.tarvel-a1B2c3", ".karabiner.backup-tarvel-0F4E", ".karabiner.json.tarvel-toolong", "notes.txt",
                             "karabiner.backup-20200101-000000.json"})
        writeFile(folder() / name, "left behind");
    const fs::path deadBackup = folder() / "karabiner.backup-20200102-000000.json";
    fs::create_hard_link(config(), deadBackup);
    const std::string before = readFile(config());
    auto result = apply("t", oneManipulator);
    ASSERT_TRUE(result);
    std::set<std::string> left;
    for (const auto& name : listing(folder()))
        if (name != "karabiner.json" && fs::path(name) != result->backupURL.filename()) left.insert(name);
    EXPECT_EQ(left, (std::set<std::string>{".karabiner.json.tarvel-toolong", "notes.txt", "karabiner.backup-20200101-000000.json"}));
    EXPECT_EQ(readFile(result->backupURL), before);
}

// Applies from several threads (each with its own descriptor, as separate processes have) wait
// for each other: every one succeeds and every backup is a complete state.
TEST_F(KarabinerWriterTest, ConcurrentAppliesAreSerialized) {
    writeConfig({{"profiles", {{{"name", "A"}}}}});
    std::vector<std::thread> threads;
    std::atomic<int> failures = 0;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i)
                if (!KarabinerWriter::apply("thread " + std::to_string(t), oneManipulator, config(), FileManager::defaultManager())) ++failures;
        });
    // A lock held from outside makes them wait, not fail.
    {
        FileDescriptor held(::open(folder().c_str(), O_RDONLY | O_DIRECTORY));
        ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(backups().size(), 40u);
    for (const auto& name : backups()) EXPECT_TRUE(Json::accept(readFile(folder() / name))) << name;
    EXPECT_EQ(readConfig()["profiles"][0]["complex_modifications"]["rules"].size(), 1u);
}

TEST_F(KarabinerWriterTest, ARestorePutsBackABackupsBytesAfterBackingUpTheCurrentFile) {
    writeFile(config(), "// mine\n{\"profiles\": [{\"name\": \"before\"}]}");
    const std::string original = readFile(config());
    auto applied = apply("t", oneManipulator);
    ASSERT_TRUE(applied);
    const std::string afterApply = readFile(config());
    const std::string name = applied->backupURL.filename().string();

    fs::create_symlink(applied->backupURL, folder() / "karabiner.backup-20000101-000000.json");
    writeFile(home / "karabiner.backup-20000101-000001.json", original);
    for (std::string bad : {"../karabiner.backup-20000101-000001.json", "karabiner.json", "karabiner.backup-1.json",
                            "karabiner.backup-20000101-000000.json", "karabiner.backup-20000101-000002.json", ""}) {
        auto refused = KarabinerWriter::restore(bad, std::nullopt, config(), fileManager);
        ASSERT_FALSE(refused) << bad;
        EXPECT_EQ(errorCode(refused.error()), "noSuchBackup") << bad;
    }
    auto stale = KarabinerWriter::restore(name, KarabinerWriter::digest("old"), config(), fileManager);
    ASSERT_FALSE(stale);
    EXPECT_EQ(errorCode(stale.error()), "changed");
    EXPECT_EQ(readFile(config()), afterApply);

    auto restored = KarabinerWriter::restore(name, KarabinerWriter::digest(afterApply), config(), fileManager);
    ASSERT_TRUE(restored);
    EXPECT_EQ(readFile(config()), original);
    EXPECT_EQ(readFile(restored->backupURL), afterApply);
    EXPECT_EQ(readFile(applied->backupURL), original);
}

} // namespace
} // namespace tarvel
