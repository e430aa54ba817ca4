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
#include <vector>

#include "Platform/FileDescriptor.h"

namespace tarvel {

namespace fs = std::filesystem;

Error Error::fromErrno(const std::string& what, int errnum) {
    return Error{what + ": " + std::strerror(errnum), errnum};
}

Result<std::string, Error> readWholeFile(const fs::path& path, std::size_t maxBytes) {
    const std::string what = "could not read " + path.string();
    // Non-blocking, so that opening a FIFO returns at once; it is refused just below.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return unexpected(Error::fromErrno(what, errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return unexpected(Error::fromErrno(what, errno));
    if (S_ISDIR(st.st_mode)) return unexpected(Error::fromErrno(what, EISDIR));
    if (!S_ISREG(st.st_mode)) return unexpected(Error{what + ": not a regular file", EINVAL});
    const auto tooLarge = [&] {
        return Error{what + ": larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MB", EFBIG};
    };
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return unexpected(tooLarge());

    std::string content;
    content.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return unexpected(Error::fromErrno(what, errno));
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (content.size() + static_cast<std::size_t>(n) > maxBytes) return unexpected(tooLarge());
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
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

namespace {

// Removes the temporary file unless it was committed by the rename.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!committed_) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void commit() { committed_ = true; }

private:
    std::string path_;
    bool committed_ = false;
};

} // namespace

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

std::optional<Error> writeFileAtomically(const fs::path& target, const std::vector<std::string_view>& pieces,
                                         const std::function<std::optional<Error>()>& beforeReplace) {
    const fs::path destination = resolvedLinkTarget(target);
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
    if (!fd) return Error::fromErrno(what, errno);
    TemporaryFile temporary(name.data());

    if (auto error = writeAll(fd.get(), pieces, what)) return error;
    // Run as root through a link to another user's file, the file must stay theirs.
    if (replacing && ::geteuid() == 0 && ::fchown(fd.get(), st.st_uid, st.st_gid) != 0) return Error::fromErrno(what, errno);
    if (::fchmod(fd.get(), mode) != 0) return Error::fromErrno(what, errno);
    if (::fsync(fd.get()) != 0) return Error::fromErrno(what, errno);
    if (::close(fd.release()) != 0) return Error::fromErrno(what, errno);
    if (beforeReplace)
        if (auto error = beforeReplace()) return error;
    if (::rename(temporary.path().c_str(), destination.c_str()) != 0) return Error::fromErrno(what, errno);
    temporary.commit();

    // Make the rename itself durable; a failure here no longer changes what the file holds.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
    return std::nullopt;
}

} // namespace tarvel
