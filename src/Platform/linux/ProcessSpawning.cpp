// Linux (glibc 2.34 and later): pipe2 and a close-from action.
#include "Platform/ProcessSpawning.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tarvel::spawning {

int makeCloseOnExecPipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC) == 0 ? 0 : errno; }

int keepOnlyStandardDescriptors(posix_spawn_file_actions_t& actions, short&) {
    return ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
}

} // namespace tarvel::spawning
