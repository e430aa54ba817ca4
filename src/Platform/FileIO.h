#pragma once
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

// The file that symbolic links at `path` lead to (relative links from the link's folder); `path`
// itself when it is no link.
std::filesystem::path resolvedLinkTarget(const std::filesystem::path& path);

} // namespace tarvel
