#include "Platform/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "Platform/FileDescriptor.h"
#include "Platform/FileSystemCalls.h"

namespace tarvel {

namespace fs = std::filesystem;

Error Error::fromErrno(const std::string& what, int errnum) {
    return Error{what + ": " + std::strerror(errnum), errnum};
}

namespace {

FileIdentity identityOf(const struct stat& st) {
    const struct timespec modified = fscalls::modificationTime(st);
    return {st.st_dev, st.st_ino, st.st_size, static_cast<std::int64_t>(modified.tv_sec), modified.tv_nsec};
}

} // namespace

std::optional<FileIdentity> identityOfItem(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return identityOf(st);
}

std::optional<FileIdentity> identityOfDescriptor(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return identityOf(st);
}

namespace {

// Reads what `fd` was opened on, when that is a regular file of at most `maxBytes`.
Result<FileContent, Error> readDescriptor(const FileDescriptor& fd, const std::string& what, std::size_t maxBytes) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return unexpected(Error::fromErrno(what, errno));
    if (S_ISDIR(st.st_mode)) return unexpected(Error::fromErrno(what, EISDIR));
    if (!S_ISREG(st.st_mode)) return unexpected(Error{what + ": not a regular file", EINVAL});
    const auto tooLarge = [&] {
        return Error{what + ": larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MB", EFBIG};
    };
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return unexpected(tooLarge());

    // The identity is the one from before the reading: a write meanwhile shows as a change.
    FileContent content{{}, identityOf(st)};
    content.bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return unexpected(Error::fromErrno(what, errno));
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (content.bytes.size() + static_cast<std::size_t>(n) > maxBytes) return unexpected(tooLarge());
        content.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

// Non-blocking, so that opening a FIFO returns at once; it is refused when it is read.
constexpr int readFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

} // namespace

Result<FileContent, Error> readFileContent(const fs::path& path, const ReadOptions& options) {
    const std::string what = "could not read " + path.string();
    // What is checked is the descriptor that is read, never the name again.
    FileDescriptor fd(::open(path.c_str(), readFlags | (options.followLinks ? 0 : O_NOFOLLOW)));
    if (!fd) return unexpected(Error::fromErrno(what, errno));
    return readDescriptor(fd, what, options.maxBytes);
}

Result<FileContent, Error> readFileBeneath(const fs::path& folder, const fs::path& relative, std::size_t maxBytes) {
    const std::string what = "could not read " + (folder / relative).string();
    FileDescriptor current(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current) return unexpected(Error::fromErrno(what, errno));
    std::vector<std::string> names;
    for (const auto& part : relative.lexically_normal()) {
        const std::string name = part.string();
        if (name.empty() || name == ".") continue;
        if (name == ".." || name == "/") return unexpected(Error::fromErrno(what, EACCES));
        names.push_back(name);
    }
    if (names.empty()) return unexpected(Error::fromErrno(what, EISDIR));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        FileDescriptor next(::openat(current.get(), names[i].c_str(), (last ? readFlags : O_RDONLY | O_DIRECTORY | O_CLOEXEC) | O_NOFOLLOW));
        if (!next) return unexpected(Error::fromErrno(what, errno));
        current = std::move(next);
    }
    return readDescriptor(current, what, maxBytes);
}

Result<std::string, Error> readWholeFile(const fs::path& path, std::size_t maxBytes) {
    auto content = readFileContent(path, {.maxBytes = maxBytes});
    if (!content) return unexpected(std::move(content).error());
    return std::move(content->bytes);
}

std::optional<Error> writeAll(int fd, std::string_view bytes, const std::string& what) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Error::fromErrno(what, errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

std::optional<Error> writeAll(int fd, const std::vector<std::string_view>& pieces, const std::string& what) {
    std::vector<struct iovec> vectors;
    vectors.reserve(pieces.size());
    for (auto piece : pieces)
        if (!piece.empty()) vectors.push_back({const_cast<char*>(piece.data()), piece.size()});
    std::size_t next = 0;
    while (next < vectors.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(vectors.size() - next, IOV_MAX));
        ssize_t n = ::writev(fd, vectors.data() + next, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Error::fromErrno(what, errno);
        }
        // Step over what was written; a piece written in part is finished by the next call.
        auto written = static_cast<std::size_t>(n);
        while (next < vectors.size() && written >= vectors[next].iov_len) written -= vectors[next++].iov_len;
        if (written > 0) {
            vectors[next].iov_base = static_cast<char*>(vectors[next].iov_base) + written;
            vectors[next].iov_len -= written;
        }
    }
    return std::nullopt;
}

fs::path resolvedLinkTarget(const fs::path& target) {
    fs::path current = target;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
        fs::path next = fs::read_symlink(current, ec);
        if (ec) return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

std::optional<Error> writeFileAtomically(const fs::path& target, std::string_view bytes,
                                         const std::function<std::optional<Error>()>& beforeReplace) {
    return writeFileAtomically(target, std::vector<std::string_view>{bytes}, beforeReplace);
}

Result<PendingFile, Error> PendingFile::create(const fs::path& destination, const std::vector<std::string_view>& pieces) {
    const std::string what = "could not write " + destination.string();
    fs::path folder = destination.parent_path();
    if (folder.empty()) folder = ".";

    mode_t mode = 0600;
    struct stat st {};
    const bool replacing = ::stat(destination.c_str(), &st) == 0;
    if (replacing) mode = st.st_mode & 07777;

    std::string pattern = (folder / ".").string();
    pattern += destination.filename().string();
    pattern += ".tarvel-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd) return unexpected(Error::fromErrno(what, errno));
    PendingFile file(fs::path(name.data()), {});

    if (auto error = writeAll(fd.get(), pieces, what)) return unexpected(*error);
    // Run as root through a link to another user's file, the file must stay theirs.
    if (replacing && ::geteuid() == 0 && ::fchown(fd.get(), st.st_uid, st.st_gid) != 0) return unexpected(Error::fromErrno(what, errno));
    if (::fchmod(fd.get(), mode) != 0) return unexpected(Error::fromErrno(what, errno));
    if (int errnum = fscalls::syncToDisk(fd.get())) return unexpected(Error::fromErrno(what, errnum));
    auto identity = identityOfDescriptor(fd.get());
    if (!identity) return unexpected(Error::fromErrno(what, errno));
    file.identity_ = *identity;
    if (::close(fd.release()) != 0) return unexpected(Error::fromErrno(what, errno));
    return file;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : path_(std::move(other.path_)), identity_(other.identity_), placed_(std::exchange(other.placed_, true)) {}

PendingFile::~PendingFile() {
    if (!placed_) ::unlink(path_.c_str());
}

std::optional<Error> writeNewFile(const fs::path& path, std::string_view bytes, mode_t mode) {
    const std::string what = "could not write " + path.string();
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (!fd) return Error::fromErrno(what, errno);
    auto fail = [&](int errnum) {
        fd.reset();
        ::unlink(path.c_str());
        return Error::fromErrno(what, errnum);
    };
    if (auto error = writeAll(fd.get(), bytes, what)) return fail(error->code);
    // open() applied the umask.
    if (::fchmod(fd.get(), mode) != 0) return fail(errno);
    if (int errnum = fscalls::syncToDisk(fd.get())) return fail(errnum);
    if (::close(fd.release()) != 0) {
        const int errnum = errno;
        ::unlink(path.c_str());
        return Error::fromErrno(what, errnum);
    }
    return std::nullopt;
}

std::optional<Error> syncFolder(const fs::path& folder) {
    FileDescriptor dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return Error::fromErrno("could not sync " + folder.string(), errno);
    if (int errnum = fscalls::syncToDisk(dir.get())) return Error::fromErrno("could not sync " + folder.string(), errnum);
    return std::nullopt;
}

std::optional<Error> writeFileAtomically(const fs::path& target, const std::vector<std::string_view>& pieces,
                                         const std::function<std::optional<Error>()>& beforeReplace) {
    const fs::path destination = resolvedLinkTarget(target);
    auto file = PendingFile::create(destination, pieces);
    if (!file) return std::move(file).error();
    if (beforeReplace)
        if (auto error = beforeReplace()) return error;
    if (::rename(file->path().c_str(), destination.c_str()) != 0) return Error::fromErrno("could not write " + destination.string(), errno);
    file->placed();
    // Make the rename itself durable; a failure here no longer changes what the file holds.
    syncFolder(destination.parent_path());
    return std::nullopt;
}

} // namespace tarvel
