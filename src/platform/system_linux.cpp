// The Linux side of the system services: the monotonic clock, opening data
// files and the main loop's rest.
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/ticks.h"

#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// Reads the monotonic clock in milliseconds, truncated to 32 bits; called by
// ReadTickCount.
uint32_t ReadSystemMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t ms = uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
    return uint32_t(ms);
}

// Tells folders apart; called by DataFilePath.
bool IsFolder(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// Opens a regular file, refusing FIFOs and devices before any read could
// wait on them; others may write or delete it meanwhile, as always on
// Linux. Called by the picture loader and the music stream.
std::FILE* OpenDataFile(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    // Reads block as usual once the file is known to be regular.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file)
        close(fd);
    return file;
}

// Rests until an event is queued or the time is up; SDL waits on the X
// connection itself, to the millisecond. Called by the main loop.
void WaitForMessage(int milliseconds) {
    SDL_WaitEventTimeout(nullptr, milliseconds);
}
