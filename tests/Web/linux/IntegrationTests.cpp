// The whole product in one window: the real inventory of this platform delivered to a page, and the
// real editor page installing a recipe into karabiner.json.
#include <gtest/gtest.h>

#include "Apps/PlatformInventory.h"
#include "Web/linux/EditorFixture.h"

namespace tarvel::test {
namespace {

class IntegrationTest : public EditorFixture {
protected:
    // The product's own collector instead of the fixture's empty one.
    IntegrationTest() { collectInventory = collectPlatformInventory; }

    void SetUp() override {
        EditorFixture::SetUp();
        const fs::path icon = DisplayEnvironment::root() / "icons/alpha.png";
        fs::create_directories(icon.parent_path());
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16, 16);
        gdk_pixbuf_fill(pixbuf, 0xff0000ff);
        ASSERT_TRUE(gdk_pixbuf_save(pixbuf, icon.c_str(), "png", nullptr, nullptr));
        g_object_unref(pixbuf);
        writeFile(DisplayEnvironment::dataHome() / "applications/org.example.Alpha.desktop",
                  desktopEntry("Alpha Notes", "Icon=" + icon.string() + "\n"));
    }

    static fs::path ownFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }
};

// How often and in which order the page is answered is the bridge's own test, what the entries
// and icons give the platform suites'; here that this machine's collector reaches the page.
TEST_F(IntegrationTest, ThePageReceivesThisMachinesInventory) {
    // The build puts tarvel-focus beside this test program, as it lies beside tarvel.
    ASSERT_TRUE(fs::exists(ownFolder() / "tarvel-focus"));
    ASSERT_NO_FATAL_FAILURE(openEditor());
    post("tarvelApps", "{}");
    const Json answer = answers("apps", 1).at(0);
    ASSERT_TRUE(answer.is_object()) << answer;
    EXPECT_EQ(answer["helperPath"], (ownFolder() / "tarvel-focus").string());
    const Json& installed = answer["installed"];
    auto alpha = std::find_if(installed.begin(), installed.end(), [](const Json& r) { return r["name"] == "Alpha Notes"; });
    ASSERT_NE(alpha, installed.end()) << installed.dump().substr(0, 2000);
    EXPECT_EQ((*alpha)["bundleId"], "org.example.Alpha");
    EXPECT_EQ((*alpha)["icon"].get<std::string>().rfind("data:image/png;base64,iVBORw0KGgo", 0), 0u);
}

// A karabiner.json as a user has it: laid out by Karabiner-Elements, with comments of their own and
// a rule Tarvel did not write (a number spelt as Karabiner-Elements would never write it included).
const std::string userHead = R"({
    // My settings. Backed up in ~/dotfiles.
    "global": { "show_in_menu_bar": false },
    "profiles": [
        {
            "complex_modifications": {
                "parameters": { "basic.to_if_alone_timeout_milliseconds": 250 },
                "rules": )";
const std::string userRule = R"({
                        // From the gallery, tuned by hand.
                        "description": "Right Command → Hyper",
                        "manipulators": [
                            {
                                "from": {
                                    "key_code": "right_command",
                                    "modifiers": { "optional": ["any"] }
                                },
                                "parameters": { "basic.to_if_held_down_threshold_milliseconds": 1.5e2 },
                                "to": [
                                    {
                                        "key_code": "left_shift",
                                        "modifiers": ["left_command", "left_control", "left_option"]
                                    }
                                ],
                                "type": "basic"
                            }
                        ]
                    })";
const std::string userTail = R"(
            },
            /* The one Karabiner-Elements uses. */
            "name": "Default profile",
            "selected": true,
            "virtual_hid_keyboard": { "keyboard_type_v2": "ansi" }
        }
    ]
})";

// The editor as users get it, built from web/ into the build tree, against the app's own reading
// and writing of karabiner.json: the page shows the rule it did not write as a rule of the profile,
// adds a recipe's rule first, keeps the other by its index, and the apply changes nothing but the
// rules' bytes.
TEST_F(IntegrationTest, TheEditorPageAddsARecipeAndKeepsTheRulesAndCommentsItDidNotWrite) {
    const fs::path built = TARVEL_BUILT_RESOURCES;
    if (!fs::exists(built / "WebResources/index.html"))
        GTEST_SKIP() << "the editor page was not built (scripts/build-web-resources)";
    const std::string original = userHead + "[\n                    " + userRule + "\n                ]" + userTail;
    writeFile(configPath(), original);
    ASSERT_NO_FATAL_FAILURE(open(built));
    ASSERT_TRUE(waitInPage(view, "window.__tarvelReady !== undefined"));
    if (evaluate(view, "!!window.webkit.messageHandlers.tarvelConfig") != true)
        GTEST_SKIP() << "this build's bridge does not read karabiner.json for the page";

    // The page opens on the file's overview: the rule it did not write is a rule of the profile, in
    // the editor's list too, staying as it is.
    ASSERT_TRUE(waitInPage(view, "document.querySelectorAll('ol.installed-rules > li').length === 1"))
        << evaluate(view, "document.body.innerText.slice(0, 3000)");
    EXPECT_EQ(evaluate(view, "document.querySelector('ol.installed-rules > li.fate-same .desc').textContent"), "Right Command → Hyper");
    EXPECT_EQ(evaluate(view, "document.querySelector('li.rulerow .text').textContent"), "Right Command → Hyper");
    // And the machine's applications.
    evaluate(view, "document.getElementById('tab-recipes').click(), true");
    ASSERT_TRUE(waitInPage(view, "[...document.querySelectorAll('.recipe[data-recipe=focusApp] .appitem')]"
                                 ".some(b => b.textContent.includes('Alpha Notes') && b.querySelector('img.appicon'))"))
        << evaluate(view, "document.body.innerText.slice(0, 3000)");

    evaluate(view, "document.querySelector('.recipe[data-recipe=capsCtrlEsc] .recipehead button').click(), true");
    ASSERT_TRUE(waitInPage(view, "document.querySelectorAll('li.rulerow').length === 2"));
    evaluate(view, "document.querySelector('header.top button.primary').click(), true");
    ASSERT_TRUE(waitInPage(view, "!!document.querySelector('[role=dialog] #apply-kept')"))
        << evaluate(view, "document.querySelector('[role=dialog]')?.innerText");
    evaluate(view, "document.querySelector('[role=dialog] .buttons button.primary').click(), true");
    ASSERT_TRUE(waitInPage(view, "!!document.querySelector('[role=dialog] .result')"));
    ASSERT_EQ(evaluate(view, "!!document.querySelector('[role=dialog] .result.ok')"), true)
        << evaluate(view, "document.querySelector('[role=dialog]').innerText");

    const std::string backup = evaluate(view, "document.querySelector('[role=dialog] .result.ok .path').textContent");
    EXPECT_EQ(readFile(backup), original);
    // Every byte outside the rules stays, comments included; the kept rule comes after the new one
    // with its own bytes.
    const std::string written = readFile(configPath());
    ASSERT_EQ(written.rfind(userHead, 0), 0u) << written;
    ASSERT_GE(written.size(), userHead.size() + userTail.size());
    EXPECT_EQ(written.substr(written.size() - userTail.size()), userTail) << written;
    const std::string rulesText = written.substr(userHead.size(), written.size() - userHead.size() - userTail.size());
    const std::size_t kept = rulesText.find(userRule);
    ASSERT_NE(kept, std::string::npos) << rulesText;
    EXPECT_NE(rulesText.find("\"[Tarvel] "), std::string::npos);
    EXPECT_LT(rulesText.find("\"[Tarvel] "), kept);

    const Json rules = Json::parse(rulesText, nullptr, true, true);
    ASSERT_EQ(rules.size(), 2u) << rulesText;
    EXPECT_EQ(rules[0]["description"], "[Tarvel] Caps Lock → Control / Escape");
    EXPECT_EQ(rules[0]["manipulators"], Json::parse(R"([{"type": "basic",
        "from": {"key_code": "caps_lock", "modifiers": {"optional": ["any"]}},
        "to": [{"key_code": "left_control"}], "to_if_alone": [{"key_code": "escape"}]}])"));
    EXPECT_EQ(rules[1]["description"], "Right Command → Hyper");
    EXPECT_EQ(readFile(linterRuns()), "run\n");

    // The page reads the file again: both rules as they are now, and nothing more to apply.
    evaluate(view, "document.querySelector('[role=dialog] .buttons button.primary').click(), true");
    evaluate(view, "document.getElementById('tab-installed').click(), true");
    EXPECT_TRUE(waitInPage(view, "[...document.querySelectorAll('ol.installed-rules > li')].map(li => li.className).join() === 'fate-same,fate-same'"))
        << evaluate(view, "document.querySelector('.installed').innerText");
    EXPECT_EQ(evaluate(view, "document.querySelector('header.top button.primary').disabled"), true);
}

// The gallery's snapshot lies beside the built page, served as gzip and unpacked by this engine; the
// gallery view's own code, a module of its own, loads through the scheme when the view opens.
TEST_F(IntegrationTest, TheGallerySnapshotBesideThePageUnpacksInThisEngine) {
    const fs::path built = TARVEL_BUILT_RESOURCES;
    if (!fs::exists(built / "WebResources/index.html"))
        GTEST_SKIP() << "the editor page was not built (scripts/build-web-resources)";
    ASSERT_NO_FATAL_FAILURE(open(built));
    const Json got = callAsync(view, "const response = await fetch('gallery/gallery.json.gz');\n"
                                     "const text = await new Response(response.body.pipeThrough(new DecompressionStream('gzip'))).text();\n"
                                     "const snapshot = JSON.parse(text);\n"
                                     "return [response.headers.get('content-type'), Object.keys(snapshot.documents).length];");
    ASSERT_TRUE(got.is_array()) << got;
    EXPECT_EQ(got[0].get<std::string>().rfind("application/gzip", 0), 0u) << got;
    EXPECT_EQ(got[1], 843);

    ASSERT_TRUE(waitInPage(view, "window.__tarvelReady !== undefined"));
    evaluate(view, "[...document.querySelectorAll('header.top button')].find((b) => b.getAttribute('aria-pressed') !== null).click(), true");
    ASSERT_TRUE(waitInPage(view, "document.querySelectorAll('[role=tree] > [role=treeitem]').length === 15"))
        << evaluate(view, "document.body.innerText.slice(0, 2000)");
    evaluate(view, "const input = document.querySelector('.gallist input[type=search]');"
                   "input.value = 'home row mods'; input.dispatchEvent(new Event('input', {bubbles: true})); true");
    EXPECT_TRUE(waitInPage(view, "document.querySelector('[role=option] .title')?.textContent === 'HRM: Home Row Mods ⌃⌥⌘⇧'"))
        << evaluate(view, "document.querySelector('.gallist').innerText.slice(0, 2000)");
}

} // namespace
} // namespace tarvel::test
