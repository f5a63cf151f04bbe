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

// Stops the worker and frees it; once this returns its step runs no more.
// Null does nothing. Called by CloseMusicStream.
void StopWorker(Worker* worker);
