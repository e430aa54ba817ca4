// Comments and blank lines around the rules of a profile: each stays with the rule it belongs to
// (docs/BRIDGE.md, "Comments around rules"), byte for byte where nothing changed around it.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "Karabiner/ApplyCheck.h"
#include "Karabiner/KarabinerFormatter.h"
#include "Karabiner/KarabinerWriter.h"
#include "TestSupport.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// A file whose selected profile's rules array holds `inner` between its brackets.
std::string withRules(const std::string& inner, const std::string& newline = "\n") {
    std::string text = "{\n    \"profiles\": [\n        {\n            \"complex_modifications\": {\n                \"rules\": [" + inner +
                       "]\n            }\n        }\n    ]\n}\n";
    if (newline == "\n") return text;
    std::string converted;
    for (char c : text) {
        if (c == '\n') converted += newline;
        else converted += c;
    }
    return converted;
}

const std::string I(20, ' ');  // the rules' indentation
const std::string O(16, ' ');  // the array's own
const std::string A = R"({ "description": "A", "manipulators": [] })";
const std::string B = R"({ "description": "B", "manipulators": [] })";
const std::string C = R"({ "description": "C", "manipulators": [] })";
const std::string OLD = R"(// { "description": "old", "manipulators": [] },)";

// The habits of hand-edited files: a section comment, a commented-out rule, a comment after a
// rule's comma, a block comment over lines, a closing comment.
const std::string commented = "\n" + I + "// ::commands\n" + I + A + ",\n" + I + OLD + "\n" + I + B + ", // hyper\n" + I + "/* a block\n" + I +
                              "   over lines */\n" + I + C + "\n" + I + "// the end\n" + O;

class RuleCommentsTest : public ::testing::Test {
protected:
    fs::path config() const { return home / ".config/karabiner/karabiner.json"; }

    std::string applied(const std::string& text, std::vector<std::size_t> keep, bool withTarvelRule = false) {
        writeFile(config(), text);
        KarabinerApplyRequest request;
        request.baseDigest = KarabinerWriter::digest(text);
        request.keep = std::move(keep);
        if (withTarvelRule) request.rules.push_back(TarvelRule{"T", true, manipulators});
        auto result = KarabinerWriter::apply(request, config(), FileManager::defaultManager());
        if (!result) return "failed: " + localizedDescription(result.error());
        return readFile(config());
    }
    std::string tarvelRule() const {
        const Json rule = {{"description", "[Tarvel] T"}, {"manipulators", manipulators}};
        return *formatLikeKarabiner(rule, I);
    }

    test::TemporaryDirectory home;
    const Json manipulators = Json::parse(R"([{"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "escape"}]}])");
};

TEST_F(RuleCommentsTest, EachCommentStaysWithItsRuleAndNoneIsDropped) {
    const struct {
        const char* what;
        std::vector<std::size_t> keep;
        std::string expected;  // the rules array's inner text afterwards
    } cases[] = {
        {"every rule kept in order: nothing changes", {0, 1, 2}, commented},
        {"the rule between goes: its comments lead the next rule that stays",
         {0, 2},
         "\n" + I + "// ::commands\n" + I + A + ",\n" + I + OLD + "\n" + I + "// hyper\n" + I + "/* a block\n" + I + "   over lines */\n" + I + C +
             "\n" + I + "// the end\n" + O},
        {"moved rules carry theirs; the last rule's trailing text goes with it",
         {2, 0},
         "\n" + I + OLD + "\n" + I + "// hyper\n" + I + "/* a block\n" + I + "   over lines */\n" + I + C + ",\n" + I + "// the end\n" + I +
             "// ::commands\n" + I + A + "\n" + O},
        {"rules after the last one that stays: their comments trail it",
         {1},
         "\n" + I + "// ::commands\n" + I + OLD + "\n" + I + B + " // hyper\n" + I + "/* a block\n" + I + "   over lines */\n" + I +
             "// the end\n" + O},
        {"no rule stays: every comment at the start of the array",
         {},
         "\n" + I + "// ::commands\n" + I + OLD + "\n" + I + "// hyper\n" + I + "/* a block\n" + I + "   over lines */\n" + I + "// the end\n" + O},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(applied(withRules(commented), c.keep), withRules(c.expected)) << c.what;
        // The same with CR LF line ends, and with CR alone.
        for (const std::string newline : {"\r\n", "\r"})
            EXPECT_EQ(applied(withRules(commented, newline), c.keep), withRules(c.expected, newline)) << c.what << " (CR)";
    }
}

TEST_F(RuleCommentsTest, NewRulesComeBetweenTheCommentsWithoutMovingThem) {
    // Tarvel's rule first, the kept rules after it with all their comments.
    EXPECT_EQ(applied(withRules(commented), {0, 1, 2}, true),
              withRules("\n" + I + tarvelRule() + ",\n" + commented.substr(1)));
    // A section comment in an empty rules array (a real dotfiles habit) stays at its start.
    const std::string section = "\n" + I + "// ::commands\n" + O;
    EXPECT_EQ(applied(withRules(section), {}, true), withRules("\n" + I + "// ::commands\n" + I + tarvelRule() + "\n" + O));
    EXPECT_EQ(applied(withRules(section), {}), withRules(section));
    // Blank lines between rules stay where nothing changed.
    const std::string blank = "\n" + I + A + ",\n\n" + I + B + "\n" + O;
    EXPECT_EQ(applied(withRules(blank), {0, 1}), withRules(blank));
    // Rules on one line with a comment between them: the comment is laid out on a line of its own.
    EXPECT_EQ(applied(withRules(A + ", /* x */ " + B), {1}), withRules("\n" + I + "/* x */\n" + I + B + "\n" + O));
}

// The comments of a text (outside strings), each with where it starts.
std::vector<std::pair<std::size_t, std::string>> commentsOf(const std::string& text) {
    std::vector<std::pair<std::size_t, std::string>> found;
    for (std::size_t p = 0; p < text.size(); ++p) {
        if (text[p] == '"') {
            for (++p; p < text.size() && text[p] != '"'; ++p)
                if (text[p] == '\\') ++p;
        } else if (text.compare(p, 2, "//") == 0 || text.compare(p, 2, "/*") == 0) {
            const bool line = text[p + 1] == '/';
            const std::size_t end = line ? text.find_first_of("\r\n", p) : text.find("*/", p) + 2;
            found.emplace_back(p, text.substr(p, end - p));
            p = (end == std::string::npos ? text.size() : end) - 1;
        }
    }
    return found;
}

// Seeded rule lists (rules dropped, moved, edited, added) on files with comments: every comment
// outside the rules that go is still there, every kept rule's bytes are, and the file reads as
// the list says.
TEST_F(RuleCommentsTest, NoCommentOutsideARuleThatGoesIsEverLost) {
    const fs::path fixtures = TARVEL_FIXTURES_DIR "/karabiner";
    const std::vector<std::string> texts = {withRules(commented), withRules(commented, "\r\n"), withRules(A + ", /* x */ " + B + " // y\n" + O),
                                            test::readFile(fixtures / "comments.jsonc"), test::readFile(fixtures / "karabiner-elements-example.jsonc"),
                                            test::readFile(fixtures / "real-commented-out-rule.json")};
    std::mt19937 random(7);
    for (const auto& text : texts) {
        const auto span = test::rulesSpan(text, std::nullopt);
        ASSERT_TRUE(span);
        const auto rules = jsonc::elements(text, span->begin);
        for (int round = 0; round < 25; ++round) {
            std::vector<std::size_t> order(rules.size());
            for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
            std::shuffle(order.begin(), order.end(), random);
            order.resize(random() % (order.size() + 1));
            KarabinerApplyRequest request;
            request.baseDigest = KarabinerWriter::digest(text);
            request.ruleList.emplace();
            std::vector<bool> kept(rules.size(), false);
            for (std::size_t index : order) {
                kept[index] = true;
                Json rule = test::readerView(std::string(rules[index].of(text)));
                switch (random() % 3) {
                case 0: request.ruleList->push_back({index, std::nullopt}); break;
                case 1: rule["description"] = "edited " + std::to_string(round); request.ruleList->push_back({index, rule}); break;
                default: rule["enabled"] = !rule.value("enabled", true); request.ruleList->push_back({index, rule}); break;
                }
                if (random() % 4 == 0) request.ruleList->push_back({std::nullopt, Json{{"description", "new"}, {"manipulators", manipulators}}});
            }
            const auto check = test::checkApply(text, request, home / "apply");
            SCOPED_TRACE(text.substr(0, 80) + "\n" + check.result);
            ASSERT_EQ(check.error, "");
            EXPECT_TRUE(check.sameAsFullRewrite);
            std::map<std::string, int> left;
            for (const auto& [at, comment] : commentsOf(check.result)) ++left[comment];
            for (const auto& [at, comment] : commentsOf(text)) {
                bool inDroppedRule = false;
                for (std::size_t i = 0; i < rules.size(); ++i) inDroppedRule |= !kept[i] && at > rules[i].begin && at < rules[i].end;
                if (!inDroppedRule) {
                    EXPECT_GT(left[comment]--, 0) << comment;
                }
            }
            for (const auto& entry : *request.ruleList)
                if (entry.index && !entry.rule) {
                    EXPECT_NE(check.result.find(rules[*entry.index].of(text)), std::string::npos) << *entry.index;
                }
        }
    }
}

} // namespace
} // namespace tarvel
