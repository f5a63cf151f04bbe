// The Windows side of the system services: the performance counter as a
// millisecond clock and opening data files.
#include "platform/files.h"
#include "platform/ticks.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

// Reads the performance counter in milliseconds, truncated to 32 bits;
// called by ReadTickCount.
uint32_t ReadSystemMilliseconds() {
    static const uint64_t rate = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return uint64_t(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Whole seconds and the rest apart, so the product cannot overflow.
    const uint64_t count = uint64_t(now.QuadPart);
    return uint32_t(count / rate * 1000u + count % rate * 1000u / rate);
}

// Opens a regular file on a disk, refusing folders, pipes and devices
// (CON, NUL, COM1 ...) before any read could wait on them; called by the
// picture loader and the music stream.
std::FILE* OpenDataFile(const char* path) {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return nullptr;
    }
    const int fd = _open_osfhandle(intptr_t(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (!file)
        _close(fd);
    return file;
}
