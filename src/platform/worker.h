// Work beside the main loop: on a thread of its own on the desktop, and in
// the browser, which gives the page's program no threads, between the
// browser's other events on the main thread.
#pragma once

// What one step of a job did.
enum class WorkStep { kWorked, kIdle, kDone };

struct Worker;

// Runs `step(data)` again and again beside the main loop until it returns
// kDone or the worker is stopped, waiting about 10 ms after a step that
// found nothing to do. Called by OpenMusicStream.
Worker* StartWorker(WorkStep (*step)(void* data), void* data);

// Runs the worker's steps now, until one finds nothing to do, where it has
// no thread of its own: in the browser, whose timers may come late (once a
// second in a hidden page) while the page's audio is still pulled. Nothing
// where it has a thread. Null does nothing. Called by the audio callback
// when a stream's ring runs low.
void RunWorkerNow(Worker* worker);

// Stops the worker and frees it; once this returns its step runs no more.
// Null does nothing. Called by CloseMusicStream.
void StopWorker(Worker* worker);
