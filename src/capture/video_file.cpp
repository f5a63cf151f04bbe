// The video: each new frame converted to YUV 4:2:0 here (BT.709 from 720
// lines on, BT.601 below, TV range) and piped raw to ffmpeg, which encodes
// it as H.264 the way video sites ask, beside the music, read from a WAV
// file next to the temporary MP4, as AAC.
#include "capture/video_file.h"

#include "capture/capture.h"
#include "capture/capture_output.h"
#include <algorithm>
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

#ifdef __SSE2__
#include <emmintrin.h>
#endif

constexpr int kAudioRate = 44100;

// The video being made: its names, ffmpeg and the writer's own buffer.
static std::string s_path, s_soundPath; // the temporary MP4 and the WAV beside it
static std::string s_ffmpeg;            // ffmpeg's path, found on PATH
static int s_pipe = -1;                 // ffmpeg's standard input
static pid_t s_ffmpegPid = -1;          // -1 when not running
static FrameLayout s_layout;
static std::vector<uint8_t> s_yuv;

// The coefficients of one RGB to YUV conversion in TV range, 8-bit fixed
// point: luma from one pixel; the blue and red differences from the sum of
// the 2 x 2 pixels they cover.
struct YuvMatrix {
    int yr, yg, yb, ur, ug, ub, vr, vg, vb;
    const char* name; // how ffmpeg tags it: colour space, primaries and transfer
};
constexpr YuvMatrix kBt601 = {66, 129, 25, -38, -74, 112, 112, -94, -18, "smpte170m"};
constexpr YuvMatrix kBt709 = {47, 157, 16, -26, -86, 112, 112, -102, -10, "bt709"};

// The lines from which a video is high definition: converted and tagged
// BT.709, as players assume from 720 lines on; BT.601 below.
constexpr int kHighDefinitionLines = 720;

// The matrix a frame of `layout` is converted with and tagged as; called by
// VideoEncoderArguments and ConvertToVideoFrame, which must agree.
static const YuvMatrix& FrameMatrix(const FrameLayout& layout) {
    return layout.height >= kHighDefinitionLines ? kBt709 : kBt601;
}

// The quality the encoder keeps (x264's constant rate factor; lower is
// better and larger) for frames of at least so many lines. Measured on the
// whole demo at 60 fps: see the README.
struct SizeQuality {
    int lines, crf;
};
constexpr SizeQuality kQualities[] = {{2160, 16}, {1440, 17}, {1080, 18}, {720, 19}, {0, 20}};

// The samples of silence ffmpeg's AAC encoder puts before the sound (its
// priming), which a player skips only where an edit list says so.
constexpr int kAacPrimingSamples = 1024;

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

// The arguments that make ffmpeg encode raw YUV 4:2:0 frames of `layout`
// from `input` at `fps`, with the sound from `sound` (none when empty), into
// the MP4 `output` as the capture does. Called by StartFfmpeg and the
// benchmark's encoder floor.
std::vector<std::string> VideoEncoderArguments(const FrameLayout& layout, int fps,
                                               const std::string& input, const std::string& sound,
                                               const std::string& output) {
    const YuvMatrix& matrix = FrameMatrix(layout);
    int crf = 0;
    for (const SizeQuality& quality : kQualities)
        if (!crf && layout.height >= quality.lines)
            crf = quality.crf;
    // A group of pictures every half second, as video sites ask: they cut
    // and switch quality at its key frames.
    const std::string gop = std::to_string(std::max(1, (fps + 1) / 2));
    std::vector<std::string> args = {"-hide_banner", "-loglevel", "error", "-nostats",
                                     // The frames, already YUV 4:2:0, then the sound.
                                     "-f", "rawvideo", "-pix_fmt", "yuv420p", "-video_size",
                                     std::to_string(layout.width) + "x" +
                                         std::to_string(layout.height),
                                     "-framerate", std::to_string(fps), "-i", input};
    if (!sound.empty())
        args.insert(args.end(), {"-i", sound, "-map", "0:v:0", "-map", "1:a:0"});
    // H.264 High profile, progressive. On the cube at 1080p the superfast
    // preset took 36 % less CPU than veryfast for 19 % more bits; ultrafast
    // has no B-frames and no High profile.
    args.insert(args.end(), {"-c:v", "libx264", "-preset", "superfast", "-profile:v", "high",
                             "-crf", std::to_string(crf)});
    // Key frames every half second and nowhere else (not at cuts), closed
    // groups, 2 B-frames.
    args.insert(args.end(), {"-g", gop, "-keyint_min", gop, "-sc_threshold", "0", "-flags", "+cgop",
                             "-bf", "2"});
    // 4:2:0, its colours tagged as converted.
    args.insert(args.end(), {"-pix_fmt", "yuv420p", "-colorspace", matrix.name, "-color_primaries",
                             matrix.name, "-color_trc", matrix.name, "-color_range", "tv"});
    if (!sound.empty())
        // AAC-LC at 48 kHz, resampled by ffmpeg's own resampler, with the
        // fast coder: a third of the default's time. The file has no edit
        // lists (video sites ask for none), so what the encoder's priming
        // would delay is taken off the front instead.
        args.insert(
            args.end(),
            {"-af", "aresample=48000,atrim=start_sample=" + std::to_string(kAacPrimingSamples),
             "-c:a", "aac", "-aac_coder", "fast", "-b:a", "384k", "-ar", "48000", "-ac", "2"});
    // The index at the front, so that a player or site starts before the
    // whole file is there; the B-frames' reordering told by negative offsets
    // rather than by an edit list.
    args.insert(args.end(), {"-use_editlist", "0", "-movflags", "+faststart+negative_cts_offsets",
                             "-f", "mp4", "-y", output});
    return args;
}

// Starts ffmpeg reading raw YUV frames on a pipe and the sound from its
// file, writing H.264 and AAC into the temporary MP4; false when it cannot
// be started. Called by OpenVideoFile.
static bool StartFfmpeg(const CaptureOptions& options) {
    std::vector<std::string> args = VideoEncoderArguments(CaptureFrameLayout(options), options.fps,
                                                          "pipe:0", s_soundPath, s_path);
    args.insert(args.begin(), s_ffmpeg);
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
    s_layout = CaptureFrameLayout(options);
    s_yuv = BlackVideoFrame(s_layout);
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

// Converts 8 pixels of two rows of RGBA, `top` and `bottom`, as the loop in
// ConvertToYuv does, 16 bits to a lane (32 for the chroma sums): the same
// arithmetic, so the same bytes, in a few instructions. Called by
// ConvertToYuv.
#ifdef __SSE2__
static void ConvertEightPixels(const uint8_t* top, const uint8_t* bottom, const YuvMatrix& m,
                               uint8_t* lumaTop, uint8_t* lumaBottom, uint8_t* blue, uint8_t* red) {
    const __m128i low = _mm_set1_epi32(0xff);
    // One channel of 8 pixels, each in 16 bits.
    auto channel = [&low](const uint8_t* pixels, int shift) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16));
        return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(a, shift), low),
                               _mm_and_si128(_mm_srli_epi32(b, shift), low));
    };
    const __m128i rTop = channel(top, 0), gTop = channel(top, 8), bTop = channel(top, 16);
    const __m128i rBottom = channel(bottom, 0), gBottom = channel(bottom, 8),
                  bBottom = channel(bottom, 16);
    // Luma is below 2^16 before the shift, so 16-bit lanes hold it exactly.
    auto luma = [&m](__m128i r, __m128i g, __m128i b) {
        __m128i sum = _mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(int16_t(m.yr))),
                                    _mm_mullo_epi16(g, _mm_set1_epi16(int16_t(m.yg))));
        sum = _mm_add_epi16(sum, _mm_mullo_epi16(b, _mm_set1_epi16(int16_t(m.yb))));
        sum = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(128)), 8);
        return _mm_add_epi16(sum, _mm_set1_epi16(16));
    };
    const __m128i lumas = _mm_packus_epi16(luma(rTop, gTop, bTop), luma(rBottom, gBottom, bBottom));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaTop), lumas);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(lumaBottom), _mm_srli_si128(lumas, 8));
    // Each 2 x 2 block's sums, one block to a 32-bit lane: down, then across.
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i r = _mm_madd_epi16(_mm_add_epi16(rTop, rBottom), ones);
    const __m128i g = _mm_madd_epi16(_mm_add_epi16(gTop, gBottom), ones);
    const __m128i b = _mm_madd_epi16(_mm_add_epi16(bTop, bBottom), ones);
    // Red and green side by side in 16-bit lanes, blue beside 0.
    const __m128i redGreen = _mm_or_si128(r, _mm_slli_epi32(g, 16));
    auto difference = [&](int cr, int cg, int cb) {
        const __m128i weights =
            _mm_set1_epi32(int(uint16_t(cr)) | int(uint32_t(uint16_t(cg)) << 16));
        __m128i sum = _mm_add_epi32(_mm_madd_epi16(redGreen, weights),
                                    _mm_madd_epi16(b, _mm_set1_epi32(int(uint16_t(cb)))));
        sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32((128 << 10) + 512)), 10);
        sum = _mm_packs_epi32(sum, sum);
        return _mm_cvtsi128_si32(_mm_packus_epi16(sum, sum));
    };
    const int blues = difference(m.ur, m.ug, m.ub), reds = difference(m.vr, m.vg, m.vb);
    std::memcpy(blue, &blues, 4);
    std::memcpy(red, &reds, 4);
}
#endif

// Turns the picture's RGBA rows, bottom first, into its part of the frame's
// YUV 4:2:0 planes, top first, each pixel repeated `scale` times across and
// down, leaving the bars as they are: TV range, integer arithmetic, each
// chroma sample from the sum of its 2 x 2 pixels. The scale is a constant
// so that the loops need no division; at scale 1, eight pixels at a time
// where the processor allows. Called by ConvertToVideoFrame.
template <int scale>
static void ConvertToYuv(const uint8_t* rgba, const FrameLayout& layout, const YuvMatrix& m,
                         uint8_t* yuv) {
    const int frameWidth = layout.width, chromaWidth = layout.width / 2;
    const int width = layout.pictureWidth * scale, height = layout.pictureHeight * scale;
    uint8_t* luma = yuv + size_t(layout.pictureY) * frameWidth + layout.pictureX;
    const size_t chromaAt = size_t(layout.pictureY / 2) * chromaWidth + layout.pictureX / 2;
    uint8_t* blue = yuv + size_t(frameWidth) * layout.height + chromaAt;
    uint8_t* red = blue + size_t(chromaWidth) * (layout.height / 2);
    for (int y = 0; y < height; y += 2) {
        // The picture's rows shown at frame rows y and y + 1.
        const uint8_t* top =
            rgba + size_t(layout.pictureHeight - 1 - y / scale) * layout.pictureWidth * 4;
        const uint8_t* bottom =
            rgba + size_t(layout.pictureHeight - 1 - (y + 1) / scale) * layout.pictureWidth * 4;
        uint8_t* lumaTop = luma + size_t(y) * frameWidth;
        uint8_t* lumaBottom = lumaTop + frameWidth;
        uint8_t* blueRow = blue + size_t(y / 2) * chromaWidth;
        uint8_t* redRow = red + size_t(y / 2) * chromaWidth;
        int x = 0;
#ifdef __SSE2__
        if (scale == 1)
            for (; x + 8 <= width; x += 8)
                ConvertEightPixels(top + x * 4, bottom + x * 4, m, lumaTop + x, lumaBottom + x,
                                   blueRow + x / 2, redRow + x / 2);
#endif
        for (; x < width; x += 2) {
            const uint8_t* a = top + (x / scale) * 4;
            const uint8_t* b = top + ((x + 1) / scale) * 4;
            const uint8_t* c = bottom + (x / scale) * 4;
            const uint8_t* d = bottom + ((x + 1) / scale) * 4;
            auto lumaOf = [&m](const uint8_t* p) {
                return uint8_t(((m.yr * p[0] + m.yg * p[1] + m.yb * p[2] + 128) >> 8) + 16);
            };
            lumaTop[x] = lumaOf(a), lumaTop[x + 1] = lumaOf(b);
            lumaBottom[x] = lumaOf(c), lumaBottom[x + 1] = lumaOf(d);
            const int r = a[0] + b[0] + c[0] + d[0];
            const int g = a[1] + b[1] + c[1] + d[1];
            const int bl = a[2] + b[2] + c[2] + d[2];
            // The offset of 128 << 10 keeps every sum positive before the shift.
            blueRow[x / 2] = uint8_t((m.ur * r + m.ug * g + m.ub * bl + (128 << 10) + 512) >> 10);
            redRow[x / 2] = uint8_t((m.vr * r + m.vg * g + m.vb * bl + (128 << 10) + 512) >> 10);
        }
    }
}

// Makes a black YUV 4:2:0 frame; called by OpenVideoFile and the
// benchmark.
std::vector<uint8_t> BlackVideoFrame(const FrameLayout& layout) {
    const size_t lumaBytes = size_t(layout.width) * layout.height;
    std::vector<uint8_t> yuv(lumaBytes * 3 / 2, 128);
    std::memset(yuv.data(), 16, lumaBytes);
    return yuv;
}

// Converts a picture into its part of a frame at the layout's scale, with
// the matrix for the frame's lines; called by ConvertVideoFrame and the
// benchmark.
void ConvertToVideoFrame(const uint8_t* rgba, const FrameLayout& layout, uint8_t* yuv) {
    const YuvMatrix& m = FrameMatrix(layout);
    switch (layout.scale) {
    case 1:
        return ConvertToYuv<1>(rgba, layout, m, yuv);
    case 2:
        return ConvertToYuv<2>(rgba, layout, m, yuv);
    case 3:
        return ConvertToYuv<3>(rgba, layout, m, yuv);
    default:
        return ConvertToYuv<4>(rgba, layout, m, yuv);
    }
}

// Converts a new frame; called by the writer thread.
void ConvertVideoFrame(const uint8_t* rgba) {
    ConvertToVideoFrame(rgba, s_layout, s_yuv.data());
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
