// Finding the demo's data folder.
#include "platform/files.h"

#include <SDL.h>
#include <string>

// Tells whether `folder` (empty, or ending in a separator) holds a data
// folder; called by DataFolder.
static bool HoldsData(const std::string& folder) {
    return IsFolder((folder + "data").c_str());
}

// The folder above `folder` (which ends in a separator), with its own
// separator; empty at the top. Called by DataFolder.
static std::string ParentFolder(const std::string& folder) {
    const size_t end = folder.find_last_of("/\\", folder.size() >= 2 ? folder.size() - 2 : 0);
    return end == std::string::npos ? std::string() : folder.substr(0, end + 1);
}

// The folder, with a separator at its end, that the data files are read
// from; empty for the working directory or when none holds data/. Looked
// for once; called by DataFilePath.
static const std::string& DataFolder() {
    static const std::string folder = [] {
        if (HoldsData(""))
            return std::string();
        char* base = SDL_GetBasePath();
        if (!base)
            return std::string();
        const std::string program = base;
        SDL_free(base);
        for (const std::string& candidate : {program, ParentFolder(program)})
            if (!candidate.empty() && HoldsData(candidate))
                return candidate;
        return std::string();
    }();
    return folder;
}

// Resolves a data file's path; called by start-up.
std::string DataFilePath(const char* path) {
    const bool absolute = path[0] == '/' || path[0] == '\\' || (path[0] && path[1] == ':');
    return absolute ? std::string(path) : DataFolder() + path;
}
