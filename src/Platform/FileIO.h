#pragma once
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Error.h"
#include "Platform/Result.h"

namespace tarvel {

// Files from outside are read only when they are regular files (after links) of at most
// `maxBytes`: a FIFO would block the reader forever, a link to /dev/zero would never end.
inline constexpr std::size_t maxReadBytes = 256 * 1024 * 1024;
Result<std::string, Error> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes = maxReadBytes);

// What changes when another program writes a file, in place or by renaming a new one over it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of the file at `path` itself (a link is not followed), or of an open descriptor.
std::optional<FileIdentity> identityOfItem(const std::filesystem::path& path);
std::optional<FileIdentity> identityOfDescriptor(int fd);

struct ReadOptions {
    std::size_t maxBytes = maxReadBytes;
    // Without it, a symbolic link at the path itself is refused (ELOOP): the file read is the one
    // that has the name.
    bool followLinks = true;
};
// A file's bytes and the identity of what was read, both from one descriptor.
struct FileContent {
    std::string bytes;
    FileIdentity identity;
};
Result<FileContent, Error> readFileContent(const std::filesystem::path& path, const ReadOptions& options = {});
// A regular file inside `folder`, opened name by name from the folder without following any link:
// a link anywhere on the way (even one swapped in a moment ago) is refused, never followed.
Result<FileContent, Error> readFileBeneath(const std::filesystem::path& folder, const std::filesystem::path& relative,
                                           std::size_t maxBytes = maxReadBytes);

// Writes every byte to `fd`, retrying short writes and interruptions.
std::optional<Error> writeAll(int fd, std::string_view bytes, const std::string& what);
// The pieces one after the other, gathered into few system calls.
std::optional<Error> writeAll(int fd, const std::vector<std::string_view>& pieces, const std::string& what);

// Replaces the file at `target` with `bytes` so that a reader sees either the old or the complete
// new content. A symbolic link at `target` stays in place: the file it leads to is replaced. The
// new file keeps the old one's permission bits (0600 for a new file), and, when the writer runs as
// root, its owner and group. The temporary file, ".<name>.tarvel-XXXXXX" beside the file replaced,
// never outlives a failure. `beforeReplace`, when given, runs once the new content is on disk, just
// before it takes the file's place; an error from it leaves the file as it was.
std::optional<Error> writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                         const std::function<std::optional<Error>()>& beforeReplace = {});
// The same for content made of pieces, written in order.
std::optional<Error> writeFileAtomically(const std::filesystem::path& target, const std::vector<std::string_view>& pieces,
                                         const std::function<std::optional<Error>()>& beforeReplace = {});

// A new file ".<name>.tarvel-XXXXXX" beside `destination` (a path without links), holding
// `pieces`, on disk, with the permission bits of the file it will replace (0600 when there is
// none) and, when the writer runs as root, its owner and group. It is removed when this goes,
// unless it was given a place (`placed()`).
class PendingFile {
public:
    static Result<PendingFile, Error> create(const std::filesystem::path& destination, const std::vector<std::string_view>& pieces);
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    ~PendingFile();

    const std::filesystem::path& path() const { return path_; }
    // Its identity as written.
    const FileIdentity& identity() const { return identity_; }
    void placed() { placed_ = true; }

private:
    PendingFile(std::filesystem::path path, FileIdentity identity) : path_(std::move(path)), identity_(identity) {}
    std::filesystem::path path_;
    FileIdentity identity_;
    bool placed_ = false;
};

// A new file at `path` (never over an existing one) holding `bytes`, on disk, with the permission
// bits `mode`; nothing stays at the path when it fails.
std::optional<Error> writeNewFile(const std::filesystem::path& path, std::string_view bytes, mode_t mode);

// Makes the names in a folder durable (their file's own content is synced on its own).
std::optional<Error> syncFolder(const std::filesystem::path& folder);

// The file that symbolic links at `path` lead to (relative links from the link's folder); `path`
// itself when it is no link.
std::filesystem::path resolvedLinkTarget(const std::filesystem::path& path);

} // namespace tarvel
