#include "Platform/FileManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "Platform/FileDescriptor.h"
#include "Platform/FileIO.h"
#include "Platform/FileSystemCalls.h"

namespace tarvel {

namespace fs = std::filesystem;

FileManager& FileManager::defaultManager() {
    static PosixFileManager manager;
    return manager;
}

bool PosixFileManager::fileExists(const fs::path& path) const {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool PosixFileManager::isDirectory(const fs::path& path) const {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileManager::isExecutableFile(const fs::path& path) const {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<Error> PosixFileManager::removeItem(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) return Error{"could not remove " + path.string() + ": " + ec.message(), ec.value()};
    return std::nullopt;
}

std::optional<Error> PosixFileManager::copyItem(const fs::path& from, const fs::path& to) {
    const std::string what = "could not copy " + from.string() + " to " + to.string();
    FileDescriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!source) return Error::fromErrno(what, errno);
    struct stat st {};
    if (::fstat(source.get(), &st) != 0) return Error::fromErrno(what, errno);
    if (!S_ISREG(st.st_mode)) return Error::fromErrno(what, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);

    FileDescriptor destination(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (!destination) return Error::fromErrno(what, errno);

    auto fail = [&](int errnum) {
        destination.reset();
        ::unlink(to.c_str());
        return Error::fromErrno(what, errnum);
    };
    char buffer[128 * 1024];
    for (;;) {
        ssize_t n = ::read(source.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        if (n == 0) break;
        if (auto error = writeAll(destination.get(), {buffer, static_cast<std::size_t>(n)}, what)) return fail(error->code);
    }
    // open() applied the umask; the copy keeps the source's bits exactly.
    if (::fchmod(destination.get(), st.st_mode & 07777) != 0) return fail(errno);
    if (int errnum = fscalls::syncToDisk(destination.get())) return fail(errnum);
    if (::close(destination.release()) != 0) {
        int errnum = errno;
        ::unlink(to.c_str());
        return Error::fromErrno(what, errnum);
    }
    return std::nullopt;
}

std::optional<Error> PosixFileManager::linkItem(const fs::path& from, const fs::path& to) {
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return std::nullopt;
    return Error::fromErrno("could not link " + from.string() + " to " + to.string(), errno);
}

Result<FileContent, Error> PosixFileManager::readFile(const fs::path& path, const ReadOptions& options) {
    return readFileContent(path, options);
}

std::optional<Error> PosixFileManager::exchangeItems(const fs::path& a, const fs::path& b) {
    if (int errnum = fscalls::exchange(a.c_str(), b.c_str())) return Error::fromErrno("could not exchange " + a.string() + " and " + b.string(), errnum);
    return std::nullopt;
}

std::optional<Error> PosixFileManager::moveItem(const fs::path& from, const fs::path& to) {
    if (::rename(from.c_str(), to.c_str()) == 0) return std::nullopt;
    return Error::fromErrno("could not rename " + from.string() + " to " + to.string(), errno);
}

std::optional<Error> PosixFileManager::syncFolder(const fs::path& folder) { return tarvel::syncFolder(folder); }

bool FileManager::exchangeIsUnsupported(const Error& error) { return fscalls::exchangeUnsupported(error.code); }

fs::path PosixFileManager::temporaryDirectory() const {
    std::error_code ec;
    fs::path path = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : path;
}

} // namespace tarvel
