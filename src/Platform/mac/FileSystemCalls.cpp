#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/FileSystemCalls.h"

namespace tarvel::fscalls {

int exchange(const char* a, const char* b) { return ::renamex_np(a, b, RENAME_SWAP) == 0 ? 0 : errno; }

// File systems other than APFS and HFS+ (SMB, FAT, exFAT) refuse the swap.
bool exchangeUnsupported(int errnum) { return errnum == ENOTSUP || errnum == EINVAL || errnum == EOPNOTSUPP; }

int syncToDisk(int fd) {
    if (::fcntl(fd, F_FULLFSYNC) == 0) return 0;
    // Some file systems (network ones, FAT) refuse the full flush; fsync is what they offer.
    return ::fsync(fd) == 0 ? 0 : errno;
}

struct timespec modificationTime(const struct stat& st) { return st.st_mtimespec; }

} // namespace tarvel::fscalls
