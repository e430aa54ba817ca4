#pragma once
#include <filesystem>
#include <optional>

#include "Platform/Error.h"
#include "Platform/FileIO.h"
#include "Platform/Result.h"

namespace tarvel {

// The file-system service behind existence tests, reading, removal, copying, linking and replacing.
// The real one is the default; tests put a failing or meddling one in its place (they run as root,
// where permission bits stop nothing, and they force the order of events that races would make).
class FileManager {
public:
    virtual ~FileManager() = default;

    // True when something exists at the path; a symbolic link counts by what it leads to.
    virtual bool fileExists(const std::filesystem::path& path) const = 0;
    virtual bool isDirectory(const std::filesystem::path& path) const = 0;
    // A regular file (after links) that the current user may execute.
    virtual bool isExecutableFile(const std::filesystem::path& path) const = 0;

    // Removes a file, or a folder with everything in it.
    virtual std::optional<Error> removeItem(const std::filesystem::path& path) = 0;
    // Copies the content of `from` (links followed) into a new regular file `to`, keeping the
    // permission bits; fails when `to` exists. The copy is on disk (fsync'ed) when this returns.
    virtual std::optional<Error> copyItem(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Gives the file `from` leads to (links followed) the second name `to`; fails when `to` exists.
    // The error's code is errno (EXDEV across file systems).
    virtual std::optional<Error> linkItem(const std::filesystem::path& from, const std::filesystem::path& to) = 0;

    // A regular file's bytes and the identity of what was read, from one descriptor.
    virtual Result<FileContent, Error> readFile(const std::filesystem::path& path, const ReadOptions& options = {}) = 0;
    // Exchanges what two names lead to, atomically (both must exist; links are not followed). The
    // error's code is errno; see exchangeIsUnsupported().
    virtual std::optional<Error> exchangeItems(const std::filesystem::path& a, const std::filesystem::path& b) = 0;
    // Renames `from` to `to`, replacing what `to` named.
    virtual std::optional<Error> moveItem(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Makes the names in a folder durable.
    virtual std::optional<Error> syncFolder(const std::filesystem::path& folder) = 0;

    virtual std::filesystem::path temporaryDirectory() const = 0;

    // True for an error of exchangeItems() saying that the file system cannot exchange.
    static bool exchangeIsUnsupported(const Error& error);

    static FileManager& defaultManager();
};

// The real file system.
class PosixFileManager : public FileManager {
public:
    bool fileExists(const std::filesystem::path& path) const override;
    bool isDirectory(const std::filesystem::path& path) const override;
    bool isExecutableFile(const std::filesystem::path& path) const override;
    std::optional<Error> removeItem(const std::filesystem::path& path) override;
    std::optional<Error> copyItem(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::optional<Error> linkItem(const std::filesystem::path& from, const std::filesystem::path& to) override;
    Result<FileContent, Error> readFile(const std::filesystem::path& path, const ReadOptions& options = {}) override;
    std::optional<Error> exchangeItems(const std::filesystem::path& a, const std::filesystem::path& b) override;
    std::optional<Error> moveItem(const std::filesystem::path& from, const std::filesystem::path& to) override;
    std::optional<Error> syncFolder(const std::filesystem::path& folder) override;
    std::filesystem::path temporaryDirectory() const override;
};

} // namespace tarvel
