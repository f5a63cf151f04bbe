// Finding the demo's data folder.
#include "platform/files.h"

#include <SDL.h>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

// Tells whether `folder` holds a data/ folder; called by DataFolder.
static bool HoldsData(const fs::path& folder) {
    std::error_code error;
    return fs::is_directory(folder / "data", error);
}

// The folder, with a separator at its end, that the data files are read
// from; empty for the working directory or when none holds data/. Looked
// for once; called by DataFilePath.
static const std::string& DataFolder() {
    static const std::string folder = [] {
        if (HoldsData("."))
            return std::string();
        char* base = SDL_GetBasePath();
        if (!base)
            return std::string();
        const fs::path program = fs::u8path(base);
        SDL_free(base);
        for (const fs::path& candidate : {program, (program / "..").lexically_normal()})
            if (HoldsData(candidate))
                return (candidate / "").u8string();
        return std::string();
    }();
    return folder;
}

// Resolves a data file's path; called by start-up.
std::string DataFilePath(const char* path) {
    if (fs::u8path(path).is_absolute())
        return path;
    return DataFolder() + path;
}
