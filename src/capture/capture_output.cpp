// Where captured frames go: PNG files, or raw YUV 4:2:0 frames piped to
// ffmpeg with a WAV of the music as its second input. The render loop reads
// each frame into one of a few buffers; the writer thread compares it with
// the frame before, converts and encodes it only when it differs, and
// writes it. All output goes to OUT.partial-PID beside OUT and is
// renamed to OUT once complete.
#include "capture/capture_output.h"

#include "capture/capture.h"
#include "platform/screen.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

constexpr int kFrameBuffers = 3; // frames in flight between the render loop and the writer
constexpr int kAudioRate = 44100;
constexpr size_t kScreenBytes = size_t(kScreenWidth) * kScreenHeight * 4;

// The output being made: names, ffmpeg, and the writer's own buffers.
static bool s_video;
static int s_scale = 1;
static std::string s_finalPath, s_tempPath, s_soundPath;
static std::string s_ffmpeg;   // ffmpeg's path, found on PATH
static int s_pipe = -1;        // ffmpeg's standard input
static pid_t s_ffmpegPid = -1; // -1 when not running
static std::vector<uint8_t> s_previousRgba, s_rgb, s_yuv, s_png;
static bool s_havePrevious;

// The frames in flight: buffer n % kFrameBuffers holds frame n from
// NextFrameBuffer until the writer has written it.
static std::vector<uint8_t> s_buffers[kFrameBuffers];
static bool s_repeat[kFrameBuffers];
static std::mutex s_lock;
static std::condition_variable s_changed;
static int64_t s_submitted, s_written; // frames handed over and written, under s_lock
static bool s_closing, s_stopping;     // no more frames will come; stop at once
static bool s_failed;                  // the writer could not write a frame
static std::string s_failure;          // why, printed by the render loop's thread
static std::thread s_writer;

// Seconds since an arbitrary point; called to time the stages.
static double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Tells whether the output is a video; called by RunCapture and here.
bool IsVideoOutput(const std::string& out) {
    return out.size() > 4 && out.compare(out.size() - 4, 4, ".mp4") == 0;
}

// Finds an executable on PATH; "" when there is none. Called by CheckCaptureOutput.
static std::string FindOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            return "";
        start = end + 1;
    }
}

// Tells whether a file name is one this tool writes, frame-NNNNNN.png;
// called by HoldsOnlyFrames.
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
// CheckCaptureOutput and ReplaceFramesFolder.
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
static void RemoveFramesFolder(const std::string& folder) {
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (IsFrameName(entry->d_name))
                unlink((folder + "/" + entry->d_name).c_str());
        closedir(dir);
    }
    rmdir(folder.c_str());
}

// Checks the output before start-up; called by RunCapture.
bool CheckCaptureOutput(const CaptureOptions& options) {
    struct stat info;
    const bool exists = stat(options.out.c_str(), &info) == 0;
    if (IsVideoOutput(options.out)) {
        s_ffmpeg = FindOnPath("ffmpeg");
        if (s_ffmpeg.empty()) {
            std::fprintf(stderr,
                         "movra-capture: ffmpeg was not found on PATH; it is needed to write "
                         "%s (Debian package ffmpeg). Without it, write PNG frames with "
                         "--out FOLDER.\n",
                         options.out.c_str());
            return false;
        }
        if (exists && S_ISDIR(info.st_mode)) {
            std::fprintf(stderr, "movra-capture: cannot write %s: it is a folder\n",
                         options.out.c_str());
            return false;
        }
        return true;
    }
    if (exists && !(S_ISDIR(info.st_mode) && HoldsOnlyFrames(options.out))) {
        std::fprintf(stderr,
                     "movra-capture: %s already exists and is not a folder of frames from an "
                     "earlier capture; choose another name\n",
                     options.out.c_str());
        return false;
    }
    return true;
}

// Appends a little-endian integer of `bytes` bytes; called by WriteWavFile.
static void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xff);
}

// Makes the sound of a video of `frames` audio frames: the music file as
// heard from demo time `from` on, silence before it starts and after it
// ends. Called by OpenCaptureOutput.
static std::vector<int16_t> AlignedMusic(const std::vector<int16_t>* music, int32_t from,
                                         int64_t frames) {
    std::vector<int16_t> sound(size_t(frames) * 2, 0);
    const int64_t musicFrames = music ? int64_t(music->size() / 2) : 0;
    const int64_t first = MusicFrameAt(from);
    for (int64_t n = 0; n < frames; ++n) {
        const int64_t at = first + n;
        if (at >= 0 && at < musicFrames) {
            sound[size_t(n) * 2] = (*music)[size_t(at) * 2];
            sound[size_t(n) * 2 + 1] = (*music)[size_t(at) * 2 + 1];
        }
    }
    return sound;
}

bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples, int rate,
                  int channels) {
    const uint32_t dataBytes = uint32_t(samples.size() * sizeof(int16_t));
    std::string header = "RIFF";
    PutLittleEndian(header, 36 + dataBytes, 4);
    header += "WAVEfmt ";
    PutLittleEndian(header, 16, 4);
    PutLittleEndian(header, 1, 2); // integer PCM
    PutLittleEndian(header, uint32_t(channels), 2);
    PutLittleEndian(header, uint32_t(rate), 4);
    PutLittleEndian(header, uint32_t(rate * channels * 2), 4);
    PutLittleEndian(header, uint32_t(channels * 2), 2);
    PutLittleEndian(header, 16, 2);
    header += "data";
    PutLittleEndian(header, dataBytes, 4);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                   std::fwrite(samples.data(), 1, dataBytes, file) == dataBytes;
    return std::fclose(file) == 0 && written;
}

// Starts ffmpeg reading raw RGB frames on a pipe and the sound from its
// file, writing H.264 and AAC into the temporary MP4; false when it cannot
// be started. Called by OpenCaptureOutput.
static bool StartFfmpeg(const CaptureOptions& options) {
    const std::string size = std::to_string(kScreenWidth * options.scale) + "x" +
                             std::to_string(kScreenHeight * options.scale);
    const std::string fps = std::to_string(options.fps);
    const std::vector<std::string> args = {
        s_ffmpeg, "-hide_banner", "-loglevel", "error", "-nostats",
        // The frames, already YUV 4:2:0, then the sound.
        "-f", "rawvideo", "-pix_fmt", "yuv420p", "-video_size", size, "-framerate", fps, "-i",
        "pipe:0", "-i", s_soundPath, "-map", "0:v:0", "-map", "1:a:0",
        // H.264 for any player, its colours tagged as converted (BT.601, TV
        // range). The superfast preset takes 12 % less CPU than veryfast for
        // a file 8 % larger here; ultrafast is faster still but 80 % larger.
        // AAC with the fast coder, a third of the default's time.
        "-c:v", "libx264", "-preset", "superfast", "-crf", "20", "-pix_fmt", "yuv420p",
        "-colorspace", "smpte170m", "-color_primaries", "smpte170m", "-color_trc", "smpte170m",
        "-color_range", "tv", "-c:a", "aac", "-aac_coder", "fast", "-b:a", "192k", "-movflags",
        "+faststart", "-f", "mp4", "-y", s_tempPath};
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const pid_t pid = fork();
    if (pid == 0) {
        // Its own process group, so a Ctrl-C reaches only the capture, which
        // stops ffmpeg itself; and it dies with the capture.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        signal(SIGPIPE, SIG_DFL);
        dup2(fds[0], 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return false;
    }
    s_ffmpegPid = pid;
    s_pipe = fds[1];
    fcntl(s_pipe, F_SETPIPE_SZ, 1 << 20); // a whole frame at once, where allowed
    return true;
}

// Waits for ffmpeg to end; its exit status, or 128 + signal. Called when
// the video is finished or abandoned.
static int WaitForFfmpeg() {
    int status = 0;
    while (waitpid(s_ffmpegPid, &status, 0) < 0 && errno == EINTR) {
    }
    s_ffmpegPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Turns RGBA rows, bottom first, into RGB rows, top first, each pixel
// repeated `scale` times across and down; called by the writer for PNG.
static void ConvertToRgb(const uint8_t* rgba, int scale, uint8_t* rgb) {
    const size_t rowBytes = size_t(kScreenWidth) * scale * 3;
    for (int y = 0; y < kScreenHeight; ++y) {
        const uint8_t* in = rgba + size_t(kScreenHeight - 1 - y) * kScreenWidth * 4;
        uint8_t* row = rgb + size_t(y) * scale * rowBytes;
        uint8_t* out = row;
        for (int x = 0; x < kScreenWidth; ++x, in += 4)
            for (int k = 0; k < scale; ++k, out += 3)
                out[0] = in[0], out[1] = in[1], out[2] = in[2];
        for (int k = 1; k < scale; ++k)
            std::memcpy(row + k * rowBytes, row, rowBytes);
    }
}

// Turns RGBA rows, bottom first, into YUV 4:2:0 planes, top first, each
// pixel repeated `scale` times across and down: BT.601 in TV range, integer
// arithmetic, each chroma sample from the sum of its 2 x 2 pixels. The
// scale is a constant so that the loops need no division. Called by
// ConvertToYuv.
template <int scale> static void ConvertToYuvAtScale(const uint8_t* rgba, uint8_t* yuv) {
    constexpr int width = kScreenWidth * scale, height = kScreenHeight * scale;
    uint8_t* luma = yuv;
    uint8_t* blue = yuv + size_t(width) * height;
    uint8_t* red = blue + size_t(width / 2) * (height / 2);
    // The pixel shown at (x, y), y from the top.
    auto pixel = [rgba](int x, int y) {
        return rgba + (size_t(kScreenHeight - 1 - y / scale) * kScreenWidth + x / scale) * 4;
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = pixel(x, y);
            luma[size_t(y) * width + x] =
                uint8_t(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16);
        }
    for (int y = 0; y < height; y += 2)
        for (int x = 0; x < width; x += 2) {
            const uint8_t *a = pixel(x, y), *b = pixel(x + 1, y);
            const uint8_t *c = pixel(x, y + 1), *d = pixel(x + 1, y + 1);
            const int r = a[0] + b[0] + c[0] + d[0];
            const int g = a[1] + b[1] + c[1] + d[1];
            const int bl = a[2] + b[2] + c[2] + d[2];
            const size_t at = size_t(y / 2) * (width / 2) + x / 2;
            // The offset of 128 << 10 keeps every sum positive before the shift.
            blue[at] = uint8_t((-38 * r - 74 * g + 112 * bl + (128 << 10) + 512) >> 10);
            red[at] = uint8_t((112 * r - 94 * g - 18 * bl + (128 << 10) + 512) >> 10);
        }
}

// Converts a frame for the video at the scale asked for; called by the writer.
static void ConvertToYuv(const uint8_t* rgba, int scale, uint8_t* yuv) {
    switch (scale) {
    case 1:
        return ConvertToYuvAtScale<1>(rgba, yuv);
    case 2:
        return ConvertToYuvAtScale<2>(rgba, yuv);
    case 3:
        return ConvertToYuvAtScale<3>(rgba, yuv);
    default:
        return ConvertToYuvAtScale<4>(rgba, yuv);
    }
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
// by the writer.
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

// Writes all of `bytes` to a file descriptor; false with errno set when it
// cannot. Called by the writer.
static bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n, size -= size_t(n);
    }
    return true;
}

// Writes one PNG file into the temporary folder; false with the reason in
// s_failure. Called by the writer.
static bool WritePngFile(int64_t frame) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(frame));
    const std::string path = s_tempPath + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0 && WriteAll(fd, s_png.data(), s_png.size());
    int error = errno;
    if (fd >= 0 && close(fd) != 0 && written)
        written = false, error = errno;
    if (!written)
        s_failure = "cannot write " + path + ": " + std::strerror(error);
    return written;
}

// Turns one frame into output: converts it, reuses the last encoding when it
// equals the frame before, and writes it; false with the reason in
// s_failure. Called by the writer.
static bool WriteFrame(int64_t frame, const uint8_t* rgba, bool repeat) {
    const int width = kScreenWidth * s_scale, height = kScreenHeight * s_scale;
    double start = Seconds();
    // Most of the script is still pictures: a frame equal to the one before
    // is neither converted nor encoded again.
    if (!repeat)
        repeat = s_havePrevious && std::memcmp(rgba, s_previousRgba.data(), kScreenBytes) == 0;
    if (!repeat) {
        std::memcpy(s_previousRgba.data(), rgba, kScreenBytes);
        s_havePrevious = true;
        ++g_captureTimings.newFrames;
        if (s_video)
            ConvertToYuv(rgba, s_scale, s_yuv.data());
        else
            ConvertToRgb(rgba, s_scale, s_rgb.data());
    }
    const double converted = Seconds();
    g_captureTimings.convert += converted - start;
    if (s_video) {
        if (!WriteAll(s_pipe, s_yuv.data(), s_yuv.size())) {
            s_failure = "ffmpeg stopped taking frames";
            return false;
        }
        g_captureTimings.write += Seconds() - converted;
        return true;
    }
    if (!repeat && !EncodePng(s_rgb.data(), width, height, &s_png)) {
        s_failure = "libpng could not encode a frame";
        return false;
    }
    const double encoded = Seconds();
    g_captureTimings.encode += encoded - converted;
    const bool written = WritePngFile(frame);
    g_captureTimings.write += Seconds() - encoded;
    return written;
}

// The writer thread: writes the frames in order until there are no more, a
// stop is asked for, or one cannot be written.
static void RunWriter() {
    std::unique_lock<std::mutex> lock(s_lock);
    for (;;) {
        s_changed.wait(lock, [] { return s_stopping || s_written < s_submitted || s_closing; });
        if (s_stopping || s_written == s_submitted)
            return;
        const int64_t frame = s_written;
        const int slot = int(frame % kFrameBuffers);
        lock.unlock();
        const bool written = WriteFrame(frame, s_buffers[slot].data(), s_repeat[slot]);
        lock.lock();
        if (!written) {
            s_failed = true;
            s_changed.notify_all();
            return;
        }
        ++s_written;
        s_changed.notify_all();
    }
}

// Sets up the temporary output and the writer; called by RunCapture.
bool OpenCaptureOutput(const CaptureOptions& options, int64_t frameCount,
                       const std::vector<int16_t>* music) {
    s_video = IsVideoOutput(options.out);
    s_scale = options.scale;
    s_finalPath = options.out;
    s_tempPath = options.out + ".partial-" + std::to_string(getpid());
    s_soundPath.clear();
    s_submitted = s_written = 0;
    s_closing = s_stopping = s_failed = s_havePrevious = false;
    s_failure.clear();
    const size_t rgbBytes =
        size_t(kScreenWidth) * kScreenHeight * 3 * options.scale * options.scale;
    s_previousRgba.assign(kScreenBytes, 0);
    s_rgb.assign(s_video ? 0 : rgbBytes, 0);
    s_png.reserve(s_video ? 0 : rgbBytes + 4096);
    s_yuv.assign(s_video ? rgbBytes / 2 : 0, 0);
    for (std::vector<uint8_t>& buffer : s_buffers)
        buffer.assign(kScreenBytes, 0);

    if (s_video) {
        // Made here first, so a folder that cannot be written to is reported
        // clearly rather than by ffmpeg.
        const int fd = open(s_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::fprintf(stderr, "movra-capture: cannot write %s: %s\n", s_tempPath.c_str(),
                         std::strerror(errno));
            return false;
        }
        close(fd);
        s_soundPath = s_tempPath + ".wav";
        const int64_t soundFrames = frameCount * kAudioRate / options.fps;
        if (!WriteWavFile(s_soundPath, AlignedMusic(music, options.from, soundFrames), kAudioRate,
                          2)) {
            std::fprintf(stderr, "movra-capture: cannot write %s: %s\n", s_soundPath.c_str(),
                         std::strerror(errno));
            unlink(s_soundPath.c_str());
            unlink(s_tempPath.c_str());
            return false;
        }
        if (!StartFfmpeg(options)) {
            std::fprintf(stderr, "movra-capture: cannot start %s: %s\n", s_ffmpeg.c_str(),
                         std::strerror(errno));
            unlink(s_soundPath.c_str());
            unlink(s_tempPath.c_str());
            return false;
        }
    } else if (mkdir(s_tempPath.c_str(), 0755) != 0) {
        std::fprintf(stderr, "movra-capture: cannot create the folder %s: %s\n", s_tempPath.c_str(),
                     std::strerror(errno));
        return false;
    }
    s_writer = std::thread(RunWriter);
    return true;
}

// Waits for a buffer the writer is done with; called by RunCapture.
uint8_t* NextFrameBuffer() {
    const double start = Seconds();
    std::unique_lock<std::mutex> lock(s_lock);
    // Woken at least every 50 ms, so that a stop signal is seen promptly.
    while (!s_failed && !g_captureStop && s_submitted - s_written >= kFrameBuffers)
        s_changed.wait_for(lock, std::chrono::milliseconds(50));
    g_captureTimings.waiting += Seconds() - start;
    if (s_failed || g_captureStop)
        return nullptr;
    return s_buffers[s_submitted % kFrameBuffers].data();
}

// Hands the frame over; called by RunCapture.
void SubmitFrame(bool repeat) {
    std::lock_guard<std::mutex> lock(s_lock);
    s_repeat[s_submitted % kFrameBuffers] = repeat;
    ++s_submitted;
    s_changed.notify_all();
}

// Gives a finished PNG folder its final name, replacing the frames of an
// earlier capture there; false with errno set when it cannot. Called by
// FinishCaptureOutput.
static bool ReplaceFramesFolder() {
    if (rename(s_tempPath.c_str(), s_finalPath.c_str()) == 0)
        return true;
    if (errno != ENOTEMPTY && errno != EEXIST)
        return false;
    if (!HoldsOnlyFrames(s_finalPath)) {
        errno = EEXIST;
        return false;
    }
    const std::string old = s_finalPath + ".old-" + std::to_string(getpid());
    if (rename(s_finalPath.c_str(), old.c_str()) != 0)
        return false;
    if (rename(s_tempPath.c_str(), s_finalPath.c_str()) != 0) {
        const int error = errno;
        rename(old.c_str(), s_finalPath.c_str());
        errno = error;
        return false;
    }
    RemoveFramesFolder(old);
    return true;
}

// Removes the temporary output; called when the capture fails or stops.
static void RemoveTemporaryOutput() {
    if (s_video)
        unlink(s_tempPath.c_str());
    else
        RemoveFramesFolder(s_tempPath);
    if (!s_soundPath.empty())
        unlink(s_soundPath.c_str());
}

// Ends ffmpeg at once if it still runs and waits for it; its exit status
// (an ffmpeg that ended by itself keeps its own). Called when the capture
// fails or stops.
static int KillFfmpeg() {
    if (s_pipe >= 0)
        close(s_pipe), s_pipe = -1;
    if (s_ffmpegPid <= 0)
        return 0;
    kill(s_ffmpegPid, SIGKILL);
    return WaitForFfmpeg();
}

// Stops everything and removes the temporary output; called by RunCapture.
void AbortCaptureOutput() {
    {
        std::lock_guard<std::mutex> lock(s_lock);
        s_stopping = true;
        s_changed.notify_all();
    }
    // Killing ffmpeg first frees a writer blocked on a full pipe; one that
    // ended by itself is not running any more and keeps its exit status.
    if (s_ffmpegPid > 0 && !s_failed)
        kill(s_ffmpegPid, SIGKILL);
    if (s_writer.joinable())
        s_writer.join();
    const int ffmpegStatus = KillFfmpeg();
    RemoveTemporaryOutput();
    if (s_failed && s_video)
        std::fprintf(stderr, "movra-capture: %s (exit status %d)\n", s_failure.c_str(),
                     ffmpegStatus);
    else if (s_failed)
        std::fprintf(stderr, "movra-capture: %s\n", s_failure.c_str());
}

// Finishes the output and names it; called by RunCapture.
bool FinishCaptureOutput() {
    {
        std::lock_guard<std::mutex> lock(s_lock);
        s_closing = true;
        s_changed.notify_all();
    }
    s_writer.join();
    if (s_failed || g_captureStop) {
        AbortCaptureOutput();
        return false;
    }
    if (s_video) {
        const double start = Seconds();
        close(s_pipe);
        s_pipe = -1;
        const int status = WaitForFfmpeg();
        g_captureTimings.finish += Seconds() - start;
        if (status != 0) {
            std::fprintf(stderr, "movra-capture: ffmpeg failed (exit status %d)\n", status);
            RemoveTemporaryOutput();
            return false;
        }
        unlink(s_soundPath.c_str());
        s_soundPath.clear();
    }
    const bool named =
        s_video ? rename(s_tempPath.c_str(), s_finalPath.c_str()) == 0 : ReplaceFramesFolder();
    if (!named) {
        std::fprintf(stderr, "movra-capture: cannot rename %s to %s: %s\n", s_tempPath.c_str(),
                     s_finalPath.c_str(), std::strerror(errno));
        RemoveTemporaryOutput();
    }
    return named;
}
