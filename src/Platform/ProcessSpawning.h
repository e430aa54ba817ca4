#pragma once
#include <spawn.h>

// What starting a child needs that differs between systems. CMake picks the implementation
// (linux/ or mac/); the child-process runner is the only user.
namespace tarvel::spawning {

// A pipe whose two ends are closed on exec from the moment they exist, so that a child another
// thread starts meanwhile inherits neither. Returns 0 or an errno value.
int makeCloseOnExecPipe(int ends[2]);

// Makes the spawn close in the child every descriptor but 0, 1 and 2, whether or not it is marked
// close-on-exec. Added after the actions that set up those three; `flags` are the spawn's
// attribute flags. Returns 0 or an errno value.
int keepOnlyStandardDescriptors(posix_spawn_file_actions_t& actions, short& flags);

} // namespace tarvel::spawning
