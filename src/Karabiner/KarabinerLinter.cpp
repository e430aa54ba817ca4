#include "Karabiner/KarabinerLinter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "Karabiner/KarabinerEnvironment.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileDescriptor.h"
#include "Platform/FileIO.h"
#include "Platform/Text.h"
#include "Platform/Uuid.h"

namespace tarvel {

namespace fs = std::filesystem;

namespace {

// Removes the lint document on every way out once it exists.
class LintFile {
public:
    LintFile(fs::path path, FileManager& fileManager) : path_(std::move(path)), fileManager_(fileManager) {}
    LintFile(const LintFile&) = delete;
    LintFile& operator=(const LintFile&) = delete;
    ~LintFile() {
        if (created_) fileManager_.removeItem(path_);
    }

    std::optional<Error> write(std::string_view bytes) {
        FileDescriptor fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd) return Error::fromErrno("could not create " + path_.string(), errno);
        created_ = true;
        if (auto error = writeAll(fd.get(), bytes, "could not write " + path_.string())) return error;
        if (::close(fd.release()) != 0) return Error::fromErrno("could not write " + path_.string(), errno);
        return std::nullopt;
    }

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    FileManager& fileManager_;
    bool created_ = false;
};

std::string textOrEmpty(std::string bytes) { return isValidUTF8(bytes) ? std::move(bytes) : std::string(); }

} // namespace

Json KarabinerLinter::lintDocument(std::string_view title, const std::vector<TarvelRule>& rules) {
    Json list = Json::array();
    for (const auto& rule : rules) {
        if (rule.manipulators.empty()) continue;
        Json object = {{"description", rule.description}, {"manipulators", rule.manipulators}};
        if (!rule.enabled) object["enabled"] = false;
        list.push_back(std::move(object));
    }
    return Json{{"title", std::string(title)}, {"rules", std::move(list)}};
}

std::optional<std::string> KarabinerLinter::lint(std::string_view title, const std::vector<TarvelRule>& rules, const fs::path& cliPath,
                                                 FileManager& fileManager) {
    if (!fileManager.isExecutableFile(cliPath)) return std::nullopt;

    auto document = serializePretty(lintDocument(title, rules));
    if (!document) return "could not encode rule for linting";

    LintFile file(fileManager.temporaryDirectory() / (std::string(lintFilePrefix) + randomUUIDString() + ".json"), fileManager);
    if (auto error = file.write(*document)) return "could not write temp lint file: " + error->localizedDescription();

    auto run = runChildProcess({.executable = cliPath,
                                .arguments = {std::string(KarabinerEnvironment::lintOption), file.path().string()}});
    if (!run) return "could not run karabiner_cli: " + run.error().localizedDescription();
    if (run->exitedNormally && run->terminationStatus == 0) return std::nullopt;

    std::string out = textOrEmpty(std::move(run->standardOutput));
    std::string err = textOrEmpty(std::move(run->standardError));
    std::string joined = out;
    if (!out.empty() && !err.empty()) joined += '\n';
    joined += err;
    if (!joined.empty()) return joined;
    return "karabiner_cli lint failed (exit " + std::to_string(run->terminationStatus) + ")";
}

} // namespace tarvel
