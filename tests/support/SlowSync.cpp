// Preloaded into a program under test: a card that takes SLOW_SYNC_MS
// milliseconds for each sync, as slow SD cards and USB sticks do.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

extern "C" int fdatasync(int fd) {
    if (const char* ms = std::getenv("SLOW_SYNC_MS"))
        usleep(static_cast<useconds_t>(std::atoi(ms)) * 1000);
    static const auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    return next(fd);
}
