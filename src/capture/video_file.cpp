// The video: each new frame converted to YUV 4:2:0 here (BT.601, TV
// range) and piped raw to ffmpeg, which encodes it as H.264 beside the
// music, read from a WAV file next to the temporary MP4, as AAC.
#include "capture/video_file.h"

#include "capture/capture.h"
#include "capture/capture_output.h"
#include "platform/screen.h"

#include <cerrno>
#include <signal.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

constexpr int kAudioRate = 44100;

// The video being made: its names, ffmpeg and the writer's own buffer.
static std::string s_path, s_soundPath; // the temporary MP4 and the WAV beside it
static std::string s_ffmpeg;            // ffmpeg's path, found on PATH
static int s_pipe = -1;                 // ffmpeg's standard input
static pid_t s_ffmpegPid = -1;          // -1 when not running
static int s_scale = 1;
static std::vector<uint8_t> s_yuv;

// Finds an executable on PATH; "" when there is none. Called by CheckVideoFile.
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

// Checks for ffmpeg and the final name before start-up; called by
// CheckCaptureOutput.
bool CheckVideoFile(const std::string& out) {
    s_ffmpeg = FindOnPath("ffmpeg");
    if (s_ffmpeg.empty()) {
        std::fprintf(stderr,
                     "movra-capture: ffmpeg was not found on PATH; it is needed to write "
                     "%s (Debian package ffmpeg). Without it, write PNG frames with "
                     "--out FOLDER.\n",
                     out.c_str());
        return false;
    }
    struct stat info;
    if (stat(out.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fprintf(stderr, "movra-capture: cannot write %s: it is a folder\n", out.c_str());
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
// ends. Called by OpenVideoFile.
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

// Writes a PCM WAV file; called by OpenVideoFile and the tests' MP3 maker.
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

// Starts ffmpeg reading raw YUV frames on a pipe and the sound from its
// file, writing H.264 and AAC into the temporary MP4; false when it cannot
// be started. Called by OpenVideoFile.
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
        "+faststart", "-f", "mp4", "-y", s_path};
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

// Waits for ffmpeg to end; its exit status, or 128 + signal. Called by
// FinishVideoFile and KillFfmpeg.
static int WaitForFfmpeg() {
    int status = 0;
    while (waitpid(s_ffmpegPid, &status, 0) < 0 && errno == EINTR) {
    }
    s_ffmpegPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Makes the temporary file and the sound and starts ffmpeg; called by
// OpenCaptureOutput.
bool OpenVideoFile(const CaptureOptions& options, const std::string& path, int64_t frameCount,
                   const std::vector<int16_t>* music) {
    s_path = path;
    s_soundPath.clear();
    s_scale = options.scale;
    s_yuv.assign(size_t(kScreenWidth) * kScreenHeight * 3 * options.scale * options.scale / 2, 0);
    // Made here first, so a folder that cannot be written to is reported
    // clearly rather than by ffmpeg.
    const int fd = open(s_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "movra-capture: cannot write %s: %s\n", s_path.c_str(),
                     std::strerror(errno));
        return false;
    }
    close(fd);
    s_soundPath = s_path + ".wav";
    const int64_t soundFrames = frameCount * kAudioRate / options.fps;
    if (!WriteWavFile(s_soundPath, AlignedMusic(music, options.from, soundFrames), kAudioRate, 2)) {
        std::fprintf(stderr, "movra-capture: cannot write %s: %s\n", s_soundPath.c_str(),
                     std::strerror(errno));
        RemoveVideoFile();
        return false;
    }
    if (!StartFfmpeg(options)) {
        std::fprintf(stderr, "movra-capture: cannot start %s: %s\n", s_ffmpeg.c_str(),
                     std::strerror(errno));
        RemoveVideoFile();
        return false;
    }
    return true;
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

// Converts a frame for the video at the scale asked for; called by
// ConvertVideoFrame.
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

// Converts a new frame; called by the writer thread.
void ConvertVideoFrame(const uint8_t* rgba) {
    ConvertToYuv(rgba, s_scale, s_yuv.data());
}

// Pipes the frame to ffmpeg; called by the writer thread.
bool WriteVideoFrame(std::string* failure) {
    const double start = CaptureSeconds();
    if (!WriteAll(s_pipe, s_yuv.data(), s_yuv.size())) {
        *failure = "ffmpeg stopped taking frames";
        return false;
    }
    g_captureTimings.write += CaptureSeconds() - start;
    return true;
}

// Kills ffmpeg if it runs; called by AbortCaptureOutput.
void StopFfmpeg() {
    if (s_ffmpegPid > 0)
        kill(s_ffmpegPid, SIGKILL);
}

// Ends ffmpeg and waits for it; called by AbortCaptureOutput.
int KillFfmpeg() {
    if (s_pipe >= 0)
        close(s_pipe), s_pipe = -1;
    if (s_ffmpegPid <= 0)
        return 0;
    kill(s_ffmpegPid, SIGKILL);
    return WaitForFfmpeg();
}

// Lets ffmpeg finish the file; called by FinishCaptureOutput.
bool FinishVideoFile() {
    const double start = CaptureSeconds();
    close(s_pipe);
    s_pipe = -1;
    const int status = WaitForFfmpeg();
    g_captureTimings.finish += CaptureSeconds() - start;
    if (status != 0) {
        std::fprintf(stderr, "movra-capture: ffmpeg failed (exit status %d)\n", status);
        RemoveVideoFile();
        return false;
    }
    unlink(s_soundPath.c_str());
    s_soundPath.clear();
    return true;
}

// Removes the temporary video and its sound; called when a capture fails or
// stops.
void RemoveVideoFile() {
    unlink(s_path.c_str());
    if (!s_soundPath.empty())
        unlink(s_soundPath.c_str());
}
