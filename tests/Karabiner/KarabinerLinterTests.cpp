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

TEST_F(KarabinerLinterTest, AMissingOrNonExecutableToolPassesWithoutWritingAnything) {
    EXPECT_EQ(lint(tools / "absent"), std::nullopt);
    test::writeFile(tools / "plain", "#!/bin/sh\nexit 1\n");
    EXPECT_EQ(lint(tools / "plain"), std::nullopt);
    fs::create_directories(tools / "folder");
    EXPECT_EQ(lint(tools / "folder"), std::nullopt);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(KarabinerLinterTest, ExitZeroPassesWhateverTheToolPrinted) {
    EXPECT_EQ(lint(writeTool(tools / "ok", "echo \"$2: ok\"; echo warning >&2; exit 0")), std::nullopt);
    EXPECT_TRUE(leftovers().empty());
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

TEST_F(KarabinerLinterTest, HugeOutputOnBothStreamsComesBackComplete) {
    auto tool = writeTool(tools / "flood",
                          "head -c 10485760 /dev/zero | tr '\\0' o & head -c 10485760 /dev/zero | tr '\\0' e >&2; wait; exit 1");
    auto result = lint(tool);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->size(), 2u * 10485760u + 1u);
    EXPECT_EQ((*result)[10485760], '\n');
    EXPECT_EQ(result->find_first_not_of('o'), 10485760u);
    EXPECT_EQ(result->find_first_not_of('e', 10485761), std::string::npos);
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
