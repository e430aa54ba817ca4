#pragma once
// Shared helpers for the core's tests: temporary folders, files, stand-in tools and fakes.
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/FileManager.h"
#include "Platform/MainQueue.h"
#include "Web/WebPage.h"

namespace tarvel::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it at the end of the test.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (fs::temp_directory_path() / "tarvel-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& child) const { return path_ / child; }

private:
    fs::path path_;
};

inline void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A shell script with execute permission: a stand-in for an outside tool.
inline fs::path writeTool(const fs::path& path, const std::string& body) {
    writeFile(path, "#!/bin/sh\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    return path;
}

inline std::set<std::string> listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

inline unsigned permissionBits(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// The real file system, with failures that the test chooses.
class ScriptedFileManager : public PosixFileManager {
public:
    std::optional<Error> copyFailure;
    std::optional<Error> removeFailure;
    int copies = 0;

    std::optional<Error> copyItem(const fs::path& from, const fs::path& to) override {
        ++copies;
        if (copyFailure) return copyFailure;
        return PosixFileManager::copyItem(from, to);
    }
    std::optional<Error> removeItem(const fs::path& path) override {
        if (removeFailure) return removeFailure;
        return PosixFileManager::removeItem(path);
    }
};

// Runs posted work only when the test says so, like a main loop between callbacks.
class ManualMainQueue : public MainQueue {
public:
    void async(std::function<void()> work) override { pending.push_back(std::move(work)); }
    void runAll() {
        while (!pending.empty()) {
            auto work = std::move(pending.front());
            pending.pop_front();
            work();
        }
    }
    std::deque<std::function<void()>> pending;
};

class RecordingPage : public WebPage {
public:
    void evaluateJavaScript(const std::string& script) override { scripts.push_back(script); }
    std::vector<std::string> scripts;
};

} // namespace tarvel::test
