// The desktop's workers: one thread each.
#include "platform/worker.h"

#include <atomic>
#include <chrono>
#include <thread>

struct Worker {
    std::thread thread;
    std::atomic<bool> stop{false};
};

// Runs the steps until the job is done or stopped; runs on the worker's thread.
static void RunSteps(Worker* worker, WorkStep (*step)(void*), void* data) {
    while (!worker->stop.load(std::memory_order_relaxed)) {
        const WorkStep done = step(data);
        if (done == WorkStep::kDone)
            return;
        if (done == WorkStep::kIdle)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Starts the worker's thread; called by OpenMusicStream.
Worker* StartWorker(WorkStep (*step)(void* data), void* data) {
    Worker* worker = new Worker();
    worker->thread = std::thread(RunSteps, worker, step, data);
    return worker;
}

// The worker's thread runs its steps; called by the audio callback.
void RunWorkerNow(Worker*) {}

// Stops the thread, waits for it and frees the worker; called by
// CloseMusicStream.
void StopWorker(Worker* worker) {
    if (!worker)
        return;
    worker->stop.store(true, std::memory_order_relaxed);
    worker->thread.join();
    delete worker;
}
