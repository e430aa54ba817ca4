#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/FileSystemCalls.h"

namespace tarvel::fscalls {

int exchange(const char* a, const char* b) {
    return ::renameat2(AT_FDCWD, a, AT_FDCWD, b, RENAME_EXCHANGE) == 0 ? 0 : errno;
}

// EINVAL: a file system without the flag (FAT, some network and FUSE file systems); ENOSYS: a
// kernel before 3.15.
bool exchangeUnsupported(int errnum) { return errnum == EINVAL || errnum == ENOSYS || errnum == EOPNOTSUPP; }

int syncToDisk(int fd) { return ::fsync(fd) == 0 ? 0 : errno; }

struct timespec modificationTime(const struct stat& st) { return st.st_mtim; }

} // namespace tarvel::fscalls
