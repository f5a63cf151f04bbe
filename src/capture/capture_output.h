// Where captured frames go: PNG files in a folder (png_frames.h), or raw
// frames piped to ffmpeg with the music beside them (video_file.h). A writer
// thread converts and encodes while the next frames render. Everything is
// written under a temporary name beside the final one and renamed only when
// complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CaptureOptions;

// Tells whether the output is an MP4 video (a name ending in .mp4) rather
// than a folder of PNG frames; called by RunCapture.
bool IsVideoOutput(const std::string& out);

// Checks what can be checked before start-up: ffmpeg on PATH for a video,
// and nothing in the way of the final name. Prints the reason and returns
// false otherwise. Called by RunCapture.
bool CheckCaptureOutput(const CaptureOptions& options);

// Creates the temporary output, writes the sound for a video (`music` as
// heard from demo time `from` on; null for silence) and starts ffmpeg and
// the writer thread; false, with the reason printed and nothing left
// behind, when it cannot. Called by RunCapture.
bool OpenCaptureOutput(const CaptureOptions& options, int64_t frameCount,
                       const std::vector<int16_t>* music);

// Waits for a free frame buffer (the virtual screen's pixels x 4) to read
// the next frame into; null when the writer failed or a stop was asked for.
// Called by RunCapture.
uint8_t* NextFrameBuffer();

// Hands the buffer from NextFrameBuffer to the writer; `repeat` writes the
// previous frame again and ignores the buffer. Called by RunCapture.
void SubmitFrame(bool repeat);

// Waits for the writer, finishes the file and gives it its final name;
// false, with the reason printed and the temporary removed, when any frame
// could not be written. Called by RunCapture.
bool FinishCaptureOutput();

// Stops the writer and ffmpeg at once and removes the temporary output;
// called by RunCapture on a stop or a failure.
void AbortCaptureOutput();

// Writes all of `bytes` to a file descriptor; false with errno set when it
// cannot. Called by the writer thread for PNG files and the pipe to ffmpeg.
bool WriteAll(int fd, const uint8_t* bytes, size_t size);
