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

// The length of `bytes` without a character that a cut left incomplete at the end.
std::size_t completeCharacters(std::string_view bytes) {
    for (std::size_t back = 1; back <= 4 && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const std::size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

// One stream as the page reads it: nothing when it is not UTF-8; a stream that was cut says so.
std::string streamText(std::string bytes, bool cut) {
    if (cut) bytes.resize(completeCharacters(bytes));
    if (!isValidUTF8(bytes)) return {};
    if (cut) {
        if (!bytes.empty() && bytes.back() != '\n') bytes += '\n';
        bytes += "[karabiner_cli printed more than " + std::to_string(KarabinerLinter::maxStreamBytes / 1024) +
                 " KB here; the rest was cut]";
    }
    return bytes;
}

// "30 seconds", "1 second", "0.3 seconds"
std::string durationText(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    if (ms % 1000 != 0) {
        std::string text = std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 + 1000).substr(1);
        while (text.back() == '0') text.pop_back();
        return text + " seconds";
    }
    return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
}

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

std::optional<std::string> KarabinerLinter::lint(std::string_view title, const std::vector<TarvelRule>& rules,
                                                 const fs::path& cliPath, FileManager& fileManager, const LintRunLimits& limits) {
    return lintComplexModifications(lintDocument(title, rules), cliPath, fileManager, limits);
}

std::optional<std::string> KarabinerLinter::lintComplexModifications(const Json& lintable, const fs::path& cliPath, FileManager& fileManager,
                                                                     const LintRunLimits& limits) {
    // Without Karabiner-Elements' tool there is nothing to ask; one that is there but cannot run
    // must not let the rule set through unchecked.
    if (!fileManager.fileExists(cliPath)) return std::nullopt;
    if (!fileManager.isExecutableFile(cliPath))
        return "karabiner_cli cannot be run: " + cliPath.string() +
               (fileManager.isDirectory(cliPath) ? " is a folder" : " is not an executable file");

    auto document = serializePretty(lintable);
    if (!document) return "could not encode rule for linting";

    // karabiner_cli reads its arguments as glob patterns, and one that matches nothing passes.
    const fs::path folder = fileManager.temporaryDirectory();
    if (folder.string().find_first_of("*?[]{}\\") != std::string::npos)
        return "could not lint: the folder for temporary files (" + folder.string() + ") has a name karabiner_cli would read as a pattern";
    LintFile file(folder / (std::string(lintFilePrefix) + randomUUIDString() + ".json"), fileManager);
    if (auto error = file.write(*document)) return "could not write temp lint file: " + error->localizedDescription();

    auto run = runChildProcess({.executable = cliPath,
                                .arguments = {std::string(KarabinerEnvironment::lintOption), file.path().string()},
                                .timeLimit = limits.timeLimit,
                                .maxOutputBytes = maxStreamBytes,
                                .stopRequested = limits.stopRequested});
    if (!run) return "could not run karabiner_cli: " + run.error().localizedDescription();
    if (run->timedOut) return "karabiner_cli did not answer within " + durationText(limits.timeLimit);
    if (run->stopped) return "karabiner_cli was stopped: Tarvel is closing";
    if (run->exitedNormally && run->terminationStatus == 0) return std::nullopt;

    std::string out = streamText(std::move(run->standardOutput), run->standardOutputCut);
    std::string err = streamText(std::move(run->standardError), run->standardErrorCut);
    std::string joined = out;
    if (!out.empty() && !err.empty()) joined += '\n';
    joined += err;
    if (!joined.empty()) return joined;
    if (!run->exitedNormally) return "karabiner_cli lint failed (ended by signal " + std::to_string(run->terminationStatus) + ")";
    return "karabiner_cli lint failed (exit " + std::to_string(run->terminationStatus) + ")";
}

} // namespace tarvel
