#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "Karabiner/KarabinerLinter.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::writeTool;

// Runs every lint with its own temporary folder, so leftovers can be counted.
class KarabinerLinterTest : public ::testing::Test {
protected:
    class Files : public PosixFileManager {
    public:
        explicit Files(fs::path temp) : temp_(std::move(temp)) {}
        fs::path temporaryDirectory() const override { return temp_; }

    private:
        fs::path temp_;
    };

    std::optional<std::string> lint(const fs::path& tool, const Json& manipulators = oneManipulator()) {
        return KarabinerLinter::lint("Title", manipulators, tool, files);
    }
    static Json oneManipulator() { return Json::parse(R"([{"type": "basic", "from": {"key_code": "a"}}])"); }
    std::set<std::string> leftovers() const { return test::listing(temp.path()); }

    test::TemporaryDirectory tools;
    test::TemporaryDirectory temp;
    Files files{temp.path()};
};

TEST_F(KarabinerLinterTest, AMissingToolOrExitZeroPassesOneThatCannotRunRefusesWithTheReason) {
    EXPECT_EQ(lint(tools / "absent"), std::nullopt);
    test::writeFile(tools / "plain", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(lint(tools / "plain"), "karabiner_cli cannot be run: " + (tools / "plain").string() + " is not an executable file");
    fs::create_directories(tools / "folder");
    EXPECT_EQ(lint(tools / "folder"), "karabiner_cli cannot be run: " + (tools / "folder").string() + " is a folder");
    // Exit 0 passes whatever the tool printed.
    EXPECT_EQ(lint(writeTool(tools / "ok", "echo \"$2: ok\"; echo warning >&2; exit 0")), std::nullopt);
    EXPECT_TRUE(leftovers().empty());
    // The tool reads its argument as a pattern: a lint file it might not find is never handed over.
    Files patterned(temp / "T[1]");
    EXPECT_EQ(KarabinerLinter::lint("Title", oneManipulator(), tools / "ok", patterned),
              "could not lint: the folder for temporary files (" + (temp / "T[1]").string() + ") has a name karabiner_cli would read as a pattern");
}

TEST_F(KarabinerLinterTest, ARefusalComesBackAsTheToolsOwnText) {
    EXPECT_EQ(lint(writeTool(tools / "line", "echo 'unknown key_code: `\"space\"`'; exit 1")), "unknown key_code: `\"space\"`\n");
    EXPECT_EQ(lint(writeTool(tools / "both", "printf 'out\\n'; printf 'err' >&2; exit 1")), "out\n\nerr");
    EXPECT_EQ(lint(writeTool(tools / "erronly", "printf 'err\\n' >&2; exit 2")), "err\n");
    EXPECT_EQ(lint(writeTool(tools / "silent", "exit 3")), "karabiner_cli lint failed (exit 3)");
    // Output that is not UTF-8 counts as nothing.
    EXPECT_EQ(lint(writeTool(tools / "binary", "printf '\\377\\376'; exit 4")), "karabiner_cli lint failed (exit 4)");
    EXPECT_TRUE(leftovers().empty());
}

// Tools that would freeze or flood the apply: each run ends in bounded time with a bounded text,
// and the lint document is gone afterwards.
TEST_F(KarabinerLinterTest, HostileToolsAreBoundedInTimeAndText) {
    using namespace std::chrono_literals;
    const std::string cut = "[karabiner_cli printed more than 64 KB here; the rest was cut]";
    const std::string late = "karabiner_cli did not answer within 1.5 seconds";
    const struct {
        const char* name;
        const char* body;
        std::optional<std::string> expected;
        std::chrono::seconds within;
        std::chrono::milliseconds limit = 1500ms;
    } cases[] = {
        {"hang", "sleep 30", late, 10s},
        {"close and linger", "exec >/dev/null 2>&1; sleep 30", late, 10s},
        {"lingering child, refusal", "echo 'bad rule'; sleep 30 & exit 1", "bad rule\n", 1s},
        {"lingering child, pass", "sleep 30 & exit 0", std::nullopt, 1s},
        {"1 GB of output", "head -c 1073741824 /dev/zero & head -c 100000 /dev/zero | tr '\\0' e >&2; wait; exit 1",
         std::string(65536, '\0') + "\n" + cut + "\n" + std::string(65536, 'e') + "\n" + cut, 30s, 30s},
        // Cut inside a three-byte character: the broken character goes, the text stays.
        {"cut mid-character", "while :; do printf 'ああああああああ'; done | head -c 100000; exit 1",
         [] { std::string t; for (int i = 0; i < 65535 / 3; ++i) t += "あ"; return t; }() + "\n" + cut, 10s},
        {"killed", "kill -9 $$", "karabiner_cli lint failed (ended by signal 9)", 10s},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto result = KarabinerLinter::lint("Title", oneManipulator(), writeTool(tools / c.name, c.body), files,
                                                  {.timeLimit = c.limit});
        EXPECT_LT(std::chrono::steady_clock::now() - started, c.within) << c.name;
        // Long texts are compared without printing them whole.
        EXPECT_TRUE(result == c.expected) << c.name << ": " << (result ? result->size() : 0) << " bytes: "
                                          << (result ? result->substr(0, 120) + " ... " + result->substr(std::max<std::size_t>(result->size(), 120) - 120) : "none");
    }
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(KarabinerLinterTest, TheToolReadsTheDocumentFromAPrivateUniquelyNamedFile) {
    // The stand-in copies what it was given, keeping its mode, then refuses so that the test sees its
    // report.
    auto tool = writeTool(tools / "inspect",
                          "printf '%s|%s' \"$1\" \"$(basename \"$2\")\"; "
                          "cp -p \"$2\" \"" + (tools / "seen.json").string() + "\"; exit 1");
    auto report = lint(tool);
    ASSERT_TRUE(report);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(*report, parts, std::regex(R"(--lint-complex-modifications\|tarvel-lint-([0-9A-F-]{36})\.json)")))
        << *report;
    EXPECT_EQ(test::permissionBits(tools / "seen.json"), 0600u);

    Json seen = Json::parse(test::readFile(tools / "seen.json"));
    EXPECT_EQ(seen, Json({{"title", "Title"}, {"rules", {{{"description", "Title"}, {"manipulators", oneManipulator()}}}}}));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(KarabinerLinterTest, AnEmptyRuleSetLintsAsADocumentWithoutRules) {
    EXPECT_EQ(KarabinerLinter::lintDocument("x", Json::array()), Json({{"title", "x"}, {"rules", Json::array()}}));
}

TEST_F(KarabinerLinterTest, ProblemsBeforeTheRunAreReportedAsTexts) {
    auto tool = writeTool(tools / "ok", "exit 0");
    Json unencodable = Json::array({{{"s", std::string("\xff")}}});
    EXPECT_EQ(lint(tool, unencodable), "could not encode rule for linting");

    Files nowhere(temp / "missing-folder");
    auto unwritable = KarabinerLinter::lint("t", oneManipulator(), tool, nowhere);
    ASSERT_TRUE(unwritable);
    EXPECT_EQ(unwritable->rfind("could not write temp lint file: ", 0), 0u) << *unwritable;

    // A script whose interpreter is missing is executable but cannot start.
    test::writeFile(tools / "broken", "#!/nonexistent/interpreter\n");
    fs::permissions(tools / "broken", fs::perms::owner_all);
    auto broken = lint(tools / "broken");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->rfind("could not run karabiner_cli: ", 0), 0u) << *broken;
    EXPECT_TRUE(leftovers().empty());
}

} // namespace
} // namespace tarvel
