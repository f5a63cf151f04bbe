// The Windows side of the tests' helpers (bodies run in this process:
// support_in_process.cpp): the desktop as the display, the environment,
// devices and screen reads through GDI.
#include "support.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

bool LimitAddressSpace(size_t bytes) {
    // Wine enforces no job memory limit, and reserving a 64-bit address
    // space makes Wine's page table outgrow the machine: only a 32-bit
    // program's own 2 GiB, within a few times `bytes`, will do.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t space = uintptr_t(system.lpMaximumApplicationAddress);
    return space / 4 < bytes;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    _putenv_s(name.c_str(), value.c_str());
}

std::vector<std::string> MakeNonRegularFiles(const std::string& folder) {
    std::filesystem::create_directory(folder + "/folder");
    // The null device, whatever folder or extension its name comes with.
    return {folder + "/folder", folder + "/nul.mp3"};
}

intptr_t OpenAsWriter(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? -1 : intptr_t(handle);
}

void CloseWriter(intptr_t writer) {
    CloseHandle(HANDLE(writer));
}

const bool kPrivateDisplays = false;

std::string StartPrivateDisplay(int, int) {
    return "";
}

void StopPrivateDisplay() {}

bool UsePrivateDisplay(int, int) {
    return true;
}

unsigned long ShownPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    if (colour == CLR_INVALID)
        return 0xDEAD;
    return GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
}
