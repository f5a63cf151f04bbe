// PNG frames: each new frame turned into RGB rows, top first, enlarged by
// the scale and placed between its black bars, encoded by libpng in memory
// and written as the next file of the temporary folder; a frame equal to
// the one before is written again from the same encoding.
#include "capture/png_frames.h"

#include "capture/capture.h"
#include "capture/capture_output.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The folder being written and the writer's own buffers.
static std::string s_folder;
static FrameLayout s_layout;
static std::vector<uint8_t> s_rgb, s_png;

// Tells whether a file name is one this tool writes, frame-NNNNNN.png;
// called by HoldsOnlyFrames and RemoveFramesFolder.
static bool IsFrameName(const char* name) {
    size_t length = std::strlen(name);
    if (length < 16 || std::strncmp(name, "frame-", 6) != 0 ||
        std::strcmp(name + length - 4, ".png") != 0)
        return false;
    for (size_t i = 6; i < length - 4; ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

// Tells whether a folder holds nothing but frames of an earlier capture
// (or nothing at all), which a new capture may replace. Called by
// CheckFramesFolder and NameFramesFolder.
static bool HoldsOnlyFrames(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool onlyFrames = true;
    while (dirent* entry = readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
            !IsFrameName(entry->d_name))
            onlyFrames = false;
    closedir(dir);
    return onlyFrames;
}

// Removes a folder of frames, or the temporary one, and what is in it;
// called when a capture fails and when an earlier capture is replaced.
void RemoveFramesFolder(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (IsFrameName(entry->d_name))
                unlink((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
    rmdir(folder.c_str());
}

// Checks the final name before start-up; called by CheckCaptureOutput.
bool CheckFramesFolder(const std::string& out) {
    struct stat info;
    const bool exists = stat(out.c_str(), &info) == 0;
    if (exists && !(S_ISDIR(info.st_mode) && HoldsOnlyFrames(out))) {
        std::fprintf(stderr,
                     "movra-capture: %s already exists and is not a folder of frames from an "
                     "earlier capture; choose another name\n",
                     out.c_str());
        return false;
    }
    return true;
}

// Makes the temporary folder and the buffers; called by OpenCaptureOutput.
bool OpenFramesFolder(const std::string& folder, const FrameLayout& layout) {
    s_folder = folder;
    s_layout = layout;
    // Black, where the bars are; the picture is written over the rest.
    const size_t rgbBytes = size_t(layout.width) * layout.height * 3;
    s_rgb.assign(rgbBytes, 0);
    s_png.reserve(rgbBytes + 4096);
    if (mkdir(folder.c_str(), 0755) != 0) {
        std::fprintf(stderr, "movra-capture: cannot create the folder %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Turns the picture's RGBA rows, bottom first, into the frame's RGB rows,
// top first, each pixel repeated `scale` times across and down, leaving the
// bars as they are; called by ConvertPngFrame.
static void ConvertToRgb(const uint8_t* rgba, const FrameLayout& layout, uint8_t* rgb) {
    const int scale = layout.scale;
    const size_t frameRowBytes = size_t(layout.width) * 3;
    const size_t pictureRowBytes = size_t(layout.pictureWidth) * scale * 3;
    for (int y = 0; y < layout.pictureHeight; ++y) {
        const uint8_t* in = rgba + size_t(layout.pictureHeight - 1 - y) * layout.pictureWidth * 4;
        uint8_t* row =
            rgb + (size_t(layout.pictureY + y * scale) * layout.width + layout.pictureX) * 3;
        uint8_t* out = row;
        for (int x = 0; x < layout.pictureWidth; ++x, in += 4)
            for (int k = 0; k < scale; ++k, out += 3)
                out[0] = in[0], out[1] = in[1], out[2] = in[2];
        for (int k = 1; k < scale; ++k)
            std::memcpy(row + k * frameRowBytes, row, pictureRowBytes);
    }
}

// Converts a new frame; called by the writer thread.
void ConvertPngFrame(const uint8_t* rgba) {
    ConvertToRgb(rgba, s_layout, s_rgb.data());
}

// Appends what libpng writes to the PNG in memory; called by libpng.
static void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// Lets libpng flush; there is nothing to flush in memory.
static void FlushPngBytes(png_structp) {}

// Encodes RGB rows, top first, as a PNG in memory with fast settings: the
// Sub filter and zlib's run-length strategy at level 1, measured here on the
// demo's frames as faster than plain level 1 with any filter and smaller
// (about 315 KB against 335 to 480 KB). False when libpng gives up. Called
// by WritePngFrame.
static bool EncodePng(const uint8_t* rgb, int width, int height, std::vector<uint8_t>* out) {
    out->clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, AppendPngBytes, FlushPngBytes);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, rgb + size_t(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Writes the PNG in memory as one file of the folder; false with the
// reason in `failure`. Called by WritePngFrame.
static bool WritePngFile(int64_t frame, std::string* failure) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(frame));
    const std::string path = s_folder + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0 && WriteAll(fd, s_png.data(), s_png.size());
    int error = errno;
    if (fd >= 0 && close(fd) != 0 && written)
        written = false, error = errno;
    if (!written)
        *failure = "cannot write " + path + ": " + std::strerror(error);
    return written;
}

// Encodes the frame unless it repeats and writes it; called by the writer
// thread.
bool WritePngFrame(int64_t frame, bool repeat, std::string* failure) {
    const double start = CaptureSeconds();
    if (!repeat && !EncodePng(s_rgb.data(), s_layout.width, s_layout.height, &s_png)) {
        *failure = "libpng could not encode a frame";
        return false;
    }
    const double encoded = CaptureSeconds();
    g_captureTimings.encode += encoded - start;
    const bool written = WritePngFile(frame, failure);
    g_captureTimings.write += CaptureSeconds() - encoded;
    return written;
}

// Puts the finished folder in place; called by FinishCaptureOutput.
bool NameFramesFolder(const std::string& folder, const std::string& finalPath) {
    if (rename(folder.c_str(), finalPath.c_str()) == 0)
        return true;
    if (errno != ENOTEMPTY && errno != EEXIST)
        return false;
    if (!HoldsOnlyFrames(finalPath)) {
        errno = EEXIST;
        return false;
    }
    const std::string old = finalPath + ".old-" + std::to_string(getpid());
    if (rename(finalPath.c_str(), old.c_str()) != 0)
        return false;
    if (rename(folder.c_str(), finalPath.c_str()) != 0) {
        const int error = errno;
        rename(old.c_str(), finalPath.c_str());
        errno = error;
        return false;
    }
    RemoveFramesFolder(old);
    return true;
}
