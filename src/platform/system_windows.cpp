// The Windows side of the system services: the performance counter as a
// millisecond clock, opening data files and the main loop's rest.
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/ticks.h"

#include <SDL.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <string>

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

// `path` from UTF-8 to the system's UTF-16; empty when it isn't UTF-8.
// Called by IsFolder and OpenDataFile.
static std::wstring WidePath(const char* path) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &wide[0], length);
    wide.resize(size_t(length) - 1);
    return wide;
}

// Tells folders apart, by a path in UTF-8 whatever the system's code page;
// called by DataFilePath.
bool IsFolder(const char* path) {
    const std::wstring wide = WidePath(path);
    const DWORD attributes =
        wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Opens a regular file on a disk, refusing folders, pipes and devices
// (CON, NUL, COM1 ...) before any read could wait on them. Its path is
// UTF-8, as SDL gives the program's folder, whatever the system's code
// page; others may go on reading, writing, renaming or deleting it, as the
// C library's fopen allows. Called by the picture loader and the music
// stream.
std::FILE* OpenDataFile(const char* path) {
    const std::wstring widePath = WidePath(path);
    if (widePath.empty())
        return nullptr;
    HANDLE handle = CreateFileW(widePath.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Rests until a message arrives or `milliseconds` pass. SDL 2.26's own wait
// sleeps on a SetTimer timer here, which fires no sooner than 10 ms, so the
// rest waits on the thread's message queue itself, to the 1 ms timer
// resolution asked for at start-up; the next poll takes what came. Called
// by the main loop.
void WaitForMessage(int milliseconds) {
    SDL_PumpEvents();
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0)
        return;
    MsgWaitForMultipleObjectsEx(0, nullptr, DWORD(milliseconds), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}
