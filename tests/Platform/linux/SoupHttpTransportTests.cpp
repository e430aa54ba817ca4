#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "Platform/ChildProcess.h"
#include "Platform/linux/SoupHttpTransport.h"
#include "TestFiles.h"
#include "Web/RuleFetch.h"

extern char** environ;

namespace tarvel {
namespace {

namespace fs = std::filesystem;

// The local HTTPS server (https_server.py) with a certificate made for this run; only the transport
// that is told to trusts it. Nothing leaves the machine.
class LocalServer {
public:
    LocalServer() {
        auto made = runChildProcess({.executable = "/usr/bin/openssl",
                                     .arguments = {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                                   "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                                                   (dir / "key.pem").string(), "-out", certificate().string()},
                                     .timeLimit = std::chrono::seconds(60)});
        if (!made || made->terminationStatus != 0) return;
        int pipe[2];
        if (::pipe(pipe) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe[0]);
        const std::string script = TARVEL_HTTPS_SERVER, cert = certificate().string(), key = (dir / "key.pem").string();
        std::vector<char*> argv{const_cast<char*>("python3"), const_cast<char*>(script.c_str()), const_cast<char*>(cert.c_str()),
                                const_cast<char*>(key.c_str()), nullptr};
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        if (FILE* out = ::fdopen(pipe[0], "r")) {
            if (std::fscanf(out, "%d", &port_) != 1) port_ = 0;
            std::fclose(out);
        } else {
            ::close(pipe[0]);
        }
    }
    ~LocalServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    bool running() const { return port_ > 0; }
    fs::path certificate() const { return dir / "cert.pem"; }
    std::string url(const std::string& path, const std::string& scheme = "https") const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    test::TemporaryDirectory dir;
    pid_t pid_ = 0;
    int port_ = 0;
};

class SoupFetchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new LocalServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->running()) << "the local https server did not start"; }

    static LocalServer* server;
    SoupHttpTransport transport{server->certificate()};
};

LocalServer* SoupFetchTest::server = nullptr;

TEST_F(SoupFetchTest, EachRefusalAgainstARealServerHasItsCode) {
    RuleFetch::Limits limits;
    limits.timeLimit = std::chrono::milliseconds(1500);
    const struct {
        std::string url;
        std::string code;
    } cases[] = {
        {server->url("/good.json", "http"), "notHttps"},
        {server->url("/to-http"), "notHttps"},
        {server->url("/big.json"), "tooLarge"},
        {server->url("/big-unannounced.json"), "tooLarge"},
        {server->url("/slow.json"), "timeout"},
        {server->url("/loop"), "tooManyRedirects"},
        {server->url("/chain/6"), "tooManyRedirects"},
        {server->url("/not-rules.json"), "notRuleDocument"},
        {server->url("/missing.json"), "httpStatus"},
        {"https://127.0.0.1:1/good.json", "offline"},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        auto result = RuleFetch::fetch(c.url, transport, limits);
        const auto took = std::chrono::steady_clock::now() - started;
        ASSERT_FALSE(result) << c.url;
        EXPECT_EQ(result.error().code, c.code) << c.url << ": " << result.error().text;
        EXPECT_LT(took, std::chrono::seconds(5)) << c.url;
    }
}

TEST(SoupFetch, TheProductTrustsOnlyTheSystemsAuthorities) {
    // A server of its own: GIO's TLS keeps sessions to resume per server, and a resumed session is
    // not checked again.
    LocalServer own;
    ASSERT_TRUE(own.running());
    SoupHttpTransport product;
    auto untrusted = RuleFetch::fetch(own.url("/good.json"), product, {});
    ASSERT_FALSE(untrusted);
    EXPECT_EQ(untrusted.error().code, "untrusted") << untrusted.error().text;
    EXPECT_NE(untrusted.error().text.find("could not make a secure connection to 127.0.0.1:"), std::string::npos)
        << untrusted.error().text;
}

TEST_F(SoupFetchTest, AGoodDocumentArrivesWhole) {
    for (const std::string& path : std::vector<std::string>{"/good.json", "/chain/5"}) {
        auto result = RuleFetch::fetch(server->url(path), transport, {});
        ASSERT_TRUE(result) << path << ": " << result.error().text;
        EXPECT_EQ(result->url, server->url("/good.json"));
        EXPECT_EQ(Json::parse(result->text), result->document);
        EXPECT_EQ(result->document["rules"][0]["manipulators"][0]["from"]["key_code"], "caps_lock");
        EXPECT_NE(result->text.find("\n  \"rules\""), std::string::npos) << "the bytes as sent";
    }
}

TEST_F(SoupFetchTest, TheGallerysIndexArrivesAsThatIndexAndNothingElseDoes) {
    auto index = RuleFetch::fetch(server->url("/groups.json"), transport, {}, nullptr, RuleFetch::Kind::galleryIndex);
    ASSERT_TRUE(index) << index.error().text;
    EXPECT_EQ(index->document["index"][0]["files"][0]["path"], "json/good.json");
    EXPECT_EQ(Json::parse(index->text), index->document);
    auto document = RuleFetch::fetch(server->url("/good.json"), transport, {}, nullptr, RuleFetch::Kind::galleryIndex);
    ASSERT_FALSE(document);
    EXPECT_EQ(document.error().code, "notGalleryIndex") << document.error().text;
}

TEST_F(SoupFetchTest, ClosingStopsAFetchThatWaits) {
    std::atomic<bool> stop{false};
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    const auto started = std::chrono::steady_clock::now();
    auto result = transport.get({server->url("/slow.json"), 1024, started + std::chrono::seconds(20), &stop});
    closer.join();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, HttpFailure::Kind::stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

} // namespace
} // namespace tarvel
