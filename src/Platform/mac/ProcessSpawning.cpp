// macOS: no pipe2, so the ends are marked as soon as they exist; every child this process starts
// through the runner closes whatever it was not handed (POSIX_SPAWN_CLOEXEC_DEFAULT), marked or not.
#include "Platform/ProcessSpawning.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvel::spawning {

int makeCloseOnExecPipe(int ends[2]) {
    if (::pipe(ends) != 0) return errno;
    for (int i = 0; i < 2; ++i) {
        if (::fcntl(ends[i], F_SETFD, FD_CLOEXEC) != 0) {
            const int error = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            return error;
        }
    }
    return 0;
}

int keepOnlyStandardDescriptors(posix_spawn_file_actions_t&, short& flags) {
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    return 0;
}

} // namespace tarvel::spawning
