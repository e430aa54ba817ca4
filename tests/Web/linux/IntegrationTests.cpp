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
        writeFile(alphaEntry(), desktopEntry("Alpha Notes", "Icon=" + icon.string() + "\n"));
        writeFile(DisplayEnvironment::dataHome() / "applications/org.example.Hidden.desktop", desktopEntry("Hidden", "NoDisplay=true\n"));
    }

    static fs::path alphaEntry() { return DisplayEnvironment::dataHome() / "applications/org.example.Alpha.desktop"; }
    static fs::path ownFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }
};

TEST_F(IntegrationTest, ThePageReceivesThisMachinesInventoryOncePerRequest) {
    // The build puts tarvel-focus beside this test program, as it lies beside tarvel.
    ASSERT_TRUE(fs::exists(ownFolder() / "tarvel-focus"));
    ASSERT_NO_FATAL_FAILURE(openEditor());
    post("tarvelApps", "{}");
    post("tarvelApps", "null");
    answers("apps", 2);
    spinFor(0.3);
    const Json received = answers("apps", 2);
    ASSERT_EQ(received.size(), 2u);
    for (const Json& answer : received) {
        ASSERT_TRUE(answer.is_object()) << answer;
        EXPECT_TRUE(answer["running"].is_array());
        EXPECT_TRUE(answer["shortcuts"].is_array());
        EXPECT_EQ(answer["helperPath"], (ownFolder() / "tarvel-focus").string());

        const Json& installed = answer["installed"];
        auto alpha = std::find_if(installed.begin(), installed.end(), [](const Json& r) { return r["name"] == "Alpha Notes"; });
        ASSERT_NE(alpha, installed.end()) << installed.dump().substr(0, 2000);
        Json record = *alpha;
        EXPECT_EQ(record["icon"].get<std::string>().rfind("data:image/png;base64,iVBORw0KGgo", 0), 0u);
        record.erase("icon");
        EXPECT_EQ(record, (Json{{"name", "Alpha Notes"}, {"bundleId", "org.example.Alpha"}, {"path", alphaEntry().string()},
                                {"running", false}, {"launchable", true}}));
        for (const Json& other : installed) EXPECT_NE(other["name"], "Hidden");
    }
}

// The editor as users get it, built from web/ into the build tree.
TEST_F(IntegrationTest, TheEditorPageInstallsARecipeIntoKarabinerJson) {
    const fs::path built = TARVEL_BUILT_RESOURCES;
    if (!fs::exists(built / "WebResources/index.html"))
        GTEST_SKIP() << "the editor page was not built (scripts/build-web-resources)";
    ASSERT_NO_FATAL_FAILURE(open(built));

    // The page asks for the inventory on its own and lists the machine's applications with icons.
    ASSERT_TRUE(waitInPage(view, "[...document.querySelectorAll('.recipe[data-recipe=focusApp] .appitem')]"
                                 ".some(b => b.textContent.includes('Alpha Notes') && b.querySelector('img.appicon'))"))
        << evaluate(view, "document.body.innerText.slice(0, 3000)");

    evaluate(view, "document.querySelector('.recipe[data-recipe=capsCtrlEsc] .recipehead button').click(), true");
    ASSERT_TRUE(waitInPage(view, "document.querySelectorAll('li.mapping').length === 1"));
    evaluate(view, "[...document.querySelectorAll('button')].find(b => b.textContent.trim() === 'Apply…' || "
                   "b.textContent.trim() === '適用…').click(), true");
    ASSERT_TRUE(waitInPage(view, "!!document.querySelector('[role=dialog] button.primary')"));
    evaluate(view, "document.querySelector('[role=dialog] button.primary').click(), true");
    ASSERT_TRUE(waitInPage(view, "!!document.querySelector('[role=dialog] .result')"));
    ASSERT_EQ(evaluate(view, "!!document.querySelector('[role=dialog] .result.ok')"), true)
        << evaluate(view, "document.querySelector('[role=dialog]').innerText");

    const std::string backup = evaluate(view, "document.querySelector('[role=dialog] .result.ok .path').textContent");
    EXPECT_EQ(readFile(backup), sampleConfiguration);
    const Json written = Json::parse(readFile(configPath()));
    const Json rules = written["profiles"][1]["complex_modifications"]["rules"];
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0]["description"].get<std::string>().rfind("[Tarvel] ", 0), 0u);
    EXPECT_EQ(rules[0]["manipulators"], Json::parse(R"([{"type": "basic",
        "from": {"key_code": "caps_lock", "modifiers": {"optional": ["any"]}},
        "to": [{"key_code": "left_control"}], "to_if_alone": [{"key_code": "escape"}]}])"));
    EXPECT_EQ(written["profiles"][0], Json::parse(sampleConfiguration)["profiles"][0]);
    EXPECT_EQ(readFile(linterRuns()), "run\n");
}

} // namespace
} // namespace tarvel::test
