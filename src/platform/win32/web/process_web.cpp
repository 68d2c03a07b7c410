// Process services the browser has not: a page cannot start other programs (the capture's optional video
// step asks for ffmpeg), so starting one fails as on a system without it.
#include <spawn.h>

#include <cerrno>

extern "C" int posix_spawnp(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                            char* const[], char* const[]) {
    return ENOSYS;
}
