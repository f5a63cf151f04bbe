// Where captured frames go, whichever the output: the render loop reads
// each frame into one of a few buffers; the writer thread compares it with
// the frame before, has it converted only when it differs, and has it
// written as a PNG file (png_frames.cpp) or piped to ffmpeg for the video
// (video_file.cpp). All output goes to OUT.partial-PID beside OUT and is
// renamed to OUT once complete.
#include "capture/capture_output.h"

#include "capture/capture.h"
#include "capture/png_frames.h"
#include "capture/video_file.h"
#include "platform/screen.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

// The frames in flight between the render loop and the writer: as many as
// fit in 256 MB, from 3 to 16. More than a few let the drawing of moving
// frames overlap the encoding of still ones queued before them (at 1080p
// with 2 samples 12 took 7 % less time than 3 here).
constexpr size_t kFrameBufferBytes = size_t(256) << 20;
constexpr int kFewestFrameBuffers = 3, kMostFrameBuffers = 16;

// The output being made: its kind, its names, the size of a frame read
// back, and the frame before.
static bool s_video;
static std::string s_finalPath, s_tempPath;
static size_t s_screenBytes;
static std::vector<uint8_t> s_previousRgba;
static bool s_havePrevious;

// The frames in flight: buffer n % s_buffers.size() holds frame n from
// NextFrameBuffer until the writer has written it.
static std::vector<std::vector<uint8_t>> s_buffers;
static std::vector<uint8_t> s_repeat; // bytes, not bits: one thread writes as the other reads
static std::mutex s_lock;
static std::condition_variable s_changed;
static int64_t s_submitted, s_written; // frames handed over and written, under s_lock
static bool s_closing, s_stopping;     // no more frames will come; stop at once
static bool s_failed;                  // the writer could not write a frame
static std::string s_failure;          // why, printed by the render loop's thread
static std::thread s_writer;

// Tells whether the output is a video; called by RunCapture and here.
bool IsVideoOutput(const std::string& out) {
    return out.size() > 4 && out.compare(out.size() - 4, 4, ".mp4") == 0;
}

// Checks the output before start-up; called by RunCapture.
bool CheckCaptureOutput(const CaptureOptions& options) {
    return IsVideoOutput(options.out) ? CheckVideoFile(options.out)
                                      : CheckFramesFolder(options.out);
}

// Writes all of `bytes` to a file descriptor; called for PNG files and the
// pipe to ffmpeg.
bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
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

// Turns the frame in buffer `slot` into output: converts it, reuses the last
// conversion when it equals the frame before, and writes it; false with the
// reason in s_failure. Called by the writer.
static bool WriteFrame(int64_t frame, int slot) {
    const double start = CaptureSeconds();
    // Most of the script is still pictures: a frame equal to the one before
    // is neither converted nor encoded again.
    bool repeat = s_repeat[slot];
    if (!repeat)
        repeat = s_havePrevious &&
                 std::memcmp(s_buffers[slot].data(), s_previousRgba.data(), s_screenBytes) == 0;
    if (!repeat) {
        // The new frame becomes the one before; the render loop reads a
        // later frame into the old one's buffer.
        s_buffers[slot].swap(s_previousRgba);
        s_havePrevious = true;
        ++g_captureTimings.newFrames;
        if (s_video)
            ConvertVideoFrame(s_previousRgba.data());
        else
            ConvertPngFrame(s_previousRgba.data());
    }
    g_captureTimings.convert += CaptureSeconds() - start;
    return s_video ? WriteVideoFrame(&s_failure) : WritePngFrame(frame, repeat, &s_failure);
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
        const int slot = int(frame % int64_t(s_buffers.size()));
        lock.unlock();
        const bool written = WriteFrame(frame, slot);
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
    s_finalPath = options.out;
    s_tempPath = options.out + ".partial-" + std::to_string(getpid());
    s_submitted = s_written = 0;
    s_closing = s_stopping = s_failed = s_havePrevious = false;
    s_failure.clear();
    const FrameLayout layout = CaptureFrameLayout(options);
    s_screenBytes = size_t(layout.pictureWidth) * layout.pictureHeight * 4;
    s_previousRgba.assign(s_screenBytes, 0);
    const size_t buffers = std::clamp(kFrameBufferBytes / s_screenBytes,
                                      size_t(kFewestFrameBuffers), size_t(kMostFrameBuffers));
    s_buffers.assign(buffers, std::vector<uint8_t>(s_screenBytes, 0));
    s_repeat.assign(buffers, 0);
    const bool opened = s_video ? OpenVideoFile(options, s_tempPath, frameCount, music)
                                : OpenFramesFolder(s_tempPath, layout);
    if (!opened)
        return false;
    s_writer = std::thread(RunWriter);
    return true;
}

// Waits for a buffer the writer is done with; called by RunCapture.
uint8_t* NextFrameBuffer() {
    const double start = CaptureSeconds();
    std::unique_lock<std::mutex> lock(s_lock);
    // Woken at least every 50 ms, so that a stop signal is seen promptly.
    while (!s_failed && !g_captureStop && s_submitted - s_written >= int64_t(s_buffers.size()))
        s_changed.wait_for(lock, std::chrono::milliseconds(50));
    g_captureTimings.waiting += CaptureSeconds() - start;
    if (s_failed || g_captureStop)
        return nullptr;
    return s_buffers[size_t(s_submitted % int64_t(s_buffers.size()))].data();
}

// Hands the frame over; called by RunCapture.
void SubmitFrame(bool repeat) {
    std::lock_guard<std::mutex> lock(s_lock);
    s_repeat[size_t(s_submitted % int64_t(s_buffers.size()))] = repeat;
    ++s_submitted;
    s_changed.notify_all();
}

// Removes the temporary output; called when the capture fails or stops.
static void RemoveTemporaryOutput() {
    if (s_video)
        RemoveVideoFile();
    else
        RemoveFramesFolder(s_tempPath);
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
    if (s_video && !s_failed)
        StopFfmpeg();
    if (s_writer.joinable())
        s_writer.join();
    const int ffmpegStatus = s_video ? KillFfmpeg() : 0;
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
    if (s_video && !FinishVideoFile())
        return false;
    const bool named = s_video ? rename(s_tempPath.c_str(), s_finalPath.c_str()) == 0
                               : NameFramesFolder(s_tempPath, s_finalPath);
    if (!named) {
        std::fprintf(stderr, "movra-capture: cannot rename %s to %s: %s\n", s_tempPath.c_str(),
                     s_finalPath.c_str(), std::strerror(errno));
        RemoveTemporaryOutput();
    }
    return named;
}
