#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "Web/BundleSchemeHandler.h"

namespace tarvel {
namespace {

namespace fs = std::filesystem;
using test::writeFile;

// Records what the handler sends, in order.
class RecordingTask : public SchemeTask {
public:
    explicit RecordingTask(std::optional<std::string> url) : url_(std::move(url)) {}
    std::optional<std::string> requestURL() const override { return url_; }
    void didReceiveResponse(const SchemeResponse& r) override {
        events.push_back("response");
        response = r;
    }
    void didReceiveData(std::string_view bytes) override {
        events.push_back("data");
        data.append(bytes);
    }
    void didFinish() override { events.push_back("finish"); }
    void didFailWithError(const SchemeError& e) override {
        events.push_back("fail");
        error = e;
    }

    std::vector<std::string> events;
    std::optional<SchemeResponse> response;
    std::string data;
    std::optional<SchemeError> error;

private:
    std::optional<std::string> url_;
};

class BundleSchemeHandlerTest : public ::testing::Test {
protected:
    BundleSchemeHandlerTest() {
        writeFile(root / "index.html", "<html>editor</html>");
        writeFile(root / "assets/app.js", "console.log(1)");
        writeFile(root / "assets/logo.PNG", "png");
        writeFile(root / "empty.css", "");
        writeFile(dir / "secret.txt", "outside");
        writeFile(dir / "WebResources-other/index.html", "sibling");
    }
    std::optional<fs::path> resolve(std::string_view path) { return BundleSchemeHandler::resolveFileURL(path, root); }
    RecordingTask start(std::optional<std::string> url) {
        RecordingTask task(std::move(url));
        BundleSchemeHandler(root).start(task);
        return task;
    }

    test::TemporaryDirectory dir;
    fs::path root = dir / "WebResources";
};

TEST_F(BundleSchemeHandlerTest, OnlyFilesInsideTheFolderAreServed) {
    writeFile(root / "etc/passwd", "inside");
    fs::create_symlink(dir / "secret.txt", root / "leak.txt");
    fs::create_symlink(dir.path(), root / "up");
    fs::create_symlink(root / "index.html", root / "alias.html");
    const struct {
        std::string_view path;
        std::optional<fs::path> served;
    } cases[] = {
        {"/assets/./../index.html", root / "index.html"},
        // A leading "//" leaves a path that only looks absolute: it stays inside the root.
        {"//etc/passwd", root / "etc/passwd"},
        {"/alias.html", root / "alias.html"},
        {"/../secret.txt", std::nullopt}, {"/assets/../../secret.txt", std::nullopt},
        {"/../WebResources-other/index.html", std::nullopt}, {"/..", std::nullopt}, {"/assets/../..//secret.txt", std::nullopt},
        // Links that lead out of the folder.
        {"/leak.txt", std::nullopt}, {"/up/secret.txt", std::nullopt},
        // Folders, missing files, a NUL byte.
        {"/assets", std::nullopt}, {"/assets/", std::nullopt}, {"/.", std::nullopt}, {"/missing.js", std::nullopt},
        {"/index.html/", std::nullopt}, {std::string_view("/index.html\0.png", 16), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(resolve(c.path), c.served) << c.path;
}

TEST_F(BundleSchemeHandlerTest, TypesFollowTheExtensionIgnoringCase) {
    const std::pair<std::string_view, std::string_view> table[] = {
        {"html", "text/html"},   {"HTML", "text/html"},          {"htm", "application/octet-stream"},
        {"js", "application/javascript"},                         {"mjs", "application/javascript"},
        {"css", "text/css"},     {"json", "application/json"},   {"PNG", "image/png"},
        {"svg", "image/svg+xml"}, {"woff2", "font/woff2"},       {"woff", "font/woff"},
        {"ico", "image/x-icon"}, {"gz", "application/gzip"}, {"txt", "application/octet-stream"}, {"", "application/octet-stream"},
    };
    for (auto [extension, type] : table) EXPECT_EQ(BundleSchemeHandler::mimeType(extension), type) << extension;
}

TEST_F(BundleSchemeHandlerTest, AnswersWithResponseDataAndFinish) {
    auto task = start("tarvelresource://local/assets/logo.PNG?v=1#top");
    EXPECT_EQ(task.events, (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_EQ(task.response->url, "tarvelresource://local/assets/logo.PNG?v=1#top");
    EXPECT_EQ(task.response->mimeType, "image/png");
    EXPECT_EQ(task.response->expectedContentLength, 3u);
    EXPECT_EQ(task.response->textEncodingName, "utf-8");
    EXPECT_EQ(task.data, "png");

    for (const char* url : {"tarvelresource://local/", "tarvelresource://local", "tarvelresource://another-host/index.html"}) {
        auto index = start(url);
        ASSERT_TRUE(index.response) << url;
        EXPECT_EQ(index.response->mimeType, "text/html");
        EXPECT_EQ(index.data, "<html>editor</html>");
    }

    auto empty = start("tarvelresource://local/empty.css");
    EXPECT_EQ(empty.events, (std::vector<std::string>{"response", "data", "finish"}));
    EXPECT_EQ(empty.response->expectedContentLength, 0u);
}

TEST_F(BundleSchemeHandlerTest, FailsOnceWithFileDoesNotExist) {
    for (std::optional<std::string> url : {std::optional<std::string>(), std::optional<std::string>("tarvelresource://local/%2e%2e/secret.txt"),
                                           std::optional<std::string>("tarvelresource://local/assets%2F..%2F..%2Fsecret.txt"),
                                           std::optional<std::string>("tarvelresource://local/assets"),
                                           std::optional<std::string>("tarvelresource://local/index.html%00.png")}) {
        auto task = start(url);
        EXPECT_EQ(task.events, std::vector<std::string>{"fail"}) << url.value_or("(no URL)");
        EXPECT_EQ(task.error->domain, "NSURLErrorDomain");
        EXPECT_EQ(task.error->code, -1100);
    }
    // Files inside that are no regular files: a pipe would block the reader, a link to a device
    // would never end. Each fails at once, before any response.
    ASSERT_EQ(::mkfifo((root / "pipe.js").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", root / "zero.js");
    for (const char* url : {"tarvelresource://local/pipe.js", "tarvelresource://local/zero.js"}) {
        const auto started = std::chrono::steady_clock::now();
        auto task = start(url);
        EXPECT_EQ(task.events, std::vector<std::string>{"fail"}) << url;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << url;
    }
    // Percent-encoded names that stay inside are served.
    writeFile(root / "with space.json", "{}");
    EXPECT_EQ(start("tarvelresource://local/with%20space.json").data, "{}");
}

// A file inside swapped, again and again, for a link to a file outside: whatever moment the
// request falls on, the outside file is never served.
TEST_F(BundleSchemeHandlerTest, AFileSwappedForALinkOutsideIsNeverServed) {
    writeFile(root / "assets/swapped.js", "inside");
    std::atomic<bool> done = false;
    std::thread swapper([&] {
        for (int i = 0; !done; ++i) {
            const fs::path next = root / "assets/next";
            if (i % 2) writeFile(next, "inside");
            else fs::create_symlink(dir / "secret.txt", next);
            fs::rename(next, root / "assets/swapped.js");
        }
    });
    int served = 0, leaked = 0;
    for (int i = 0; i < 3000; ++i) {
        auto task = start("tarvelresource://local/assets/swapped.js");
        served += task.data == "inside";
        leaked += task.data == "outside";
    }
    done = true;
    swapper.join();
    EXPECT_EQ(leaked, 0);
    EXPECT_GT(served, 0);
}

} // namespace
} // namespace tarvel
