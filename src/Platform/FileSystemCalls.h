#pragma once
#include <sys/stat.h>
#include <time.h>

// The few file-system calls whose form differs between the systems. Each system has its own file
// (linux/, mac/), chosen by CMake; everything else about files is portable.
namespace tarvel::fscalls {

// Exchanges the files at two paths atomically: afterwards each path names the other's file. 0, or
// an errno.
int exchange(const char* a, const char* b);
// True for an errno of exchange() that says the file system (or the kernel) cannot exchange.
bool exchangeUnsupported(int errnum);

// Makes what was written through `fd` durable: on Linux fsync; on macOS F_FULLFSYNC, since fsync
// there leaves the data in the drive's cache, and fsync where the file system refuses it. 0, or an
// errno.
int syncToDisk(int fd);

// The modification time of a stat (the member's name differs).
struct timespec modificationTime(const struct stat& st);

} // namespace tarvel::fscalls
