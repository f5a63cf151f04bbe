// A capture written as an MP4 video: raw YUV 4:2:0 frames piped to ffmpeg,
// with a WAV of the music as its second input, into the temporary file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CaptureOptions;
struct FrameLayout;

// Checks that ffmpeg is on PATH and that `out` is not a folder; prints the
// reason and returns false otherwise. Called by CheckCaptureOutput.
bool CheckVideoFile(const std::string& out);

// Creates the temporary file at `path`, writes the sound beside it (`music`
// as heard from demo time `from` on, for `frameCount` frames; null for
// silence) and starts ffmpeg; false, with the reason printed and nothing
// left behind, when it cannot. Called by OpenCaptureOutput.
bool OpenVideoFile(const CaptureOptions& options, const std::string& path, int64_t frameCount,
                   const std::vector<int16_t>* music);

// The arguments that make ffmpeg encode raw YUV 4:2:0 frames of `layout`
// from `input` at `fps`, with the sound from `sound` (none when empty), into
// the MP4 `output` as the capture does (without the program's name).
// Called by the capture and the benchmark's encoder floor.
std::vector<std::string> VideoEncoderArguments(const FrameLayout& layout, int fps,
                                               const std::string& input, const std::string& sound,
                                               const std::string& output);

// A black frame of `layout` as YUV 4:2:0 planes (luma, blue, red): the bars
// of every frame. Called by the video and the benchmark's encoder floor.
std::vector<uint8_t> BlackVideoFrame(const FrameLayout& layout);

// Turns the picture (the virtual screen's RGBA, bottom row first) into its
// part of a YUV frame made by BlackVideoFrame, converted with the matrix the
// video is tagged with: BT.709 from 720 lines on, BT.601 below. Called by the
// video and the benchmark's encoder floor.
void ConvertToVideoFrame(const uint8_t* rgba, const FrameLayout& layout, uint8_t* yuv);

// Turns a new frame (the virtual screen's RGBA, bottom row first) into the
// YUV planes of the next video frame; called by the writer thread.
void ConvertVideoFrame(const uint8_t* rgba);

// Hands the frame converted last to ffmpeg; false with the reason in
// `failure`. Called by the writer thread.
bool WriteVideoFrame(std::string* failure);

// Ends ffmpeg at once, so that a writer blocked on its pipe is freed;
// called by AbortCaptureOutput.
void StopFfmpeg();

// Closes the pipe, ends ffmpeg at once if it still runs and waits for it;
// its exit status (an ffmpeg that ended by itself keeps its own). Called by
// AbortCaptureOutput.
int KillFfmpeg();

// Lets ffmpeg finish the file and removes the sound; false, with the reason
// printed and the temporary output removed, when ffmpeg failed. Called by
// FinishCaptureOutput.
bool FinishVideoFile();

// Removes the temporary video and its sound; called when a capture fails or
// stops.
void RemoveVideoFile();

// Writes interleaved 16-bit samples as a PCM WAV file; false when it
// cannot. Called for the video's sound, and by the tests' MP3 maker.
bool WriteWavFile(const std::string& path, const std::vector<int16_t>& samples, int rate,
                  int channels);
