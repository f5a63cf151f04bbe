// The web's workers: the page's program has no threads, so a worker's steps
// run on the main thread between the browser's other events, every 10 ms.
#include "platform/worker.h"

#include <emscripten/html5.h>

struct Worker {
    WorkStep (*step)(void* data);
    void* data;
    bool stopped;  // StopWorker came before the job was done: the next slice frees it
    bool finished; // the job is done and no slice comes again: StopWorker frees it
};

constexpr double kSliceMilliseconds = 10;

// Runs steps until one finds nothing to do; false once the worker is done
// or stopped, which ends its slices. Called by the browser every 10 ms.
static EM_BOOL RunWorkerSlice(double, void* data) {
    Worker* worker = static_cast<Worker*>(data);
    if (worker->stopped) {
        delete worker;
        return EM_FALSE;
    }
    for (;;) {
        const WorkStep done = worker->step(worker->data);
        if (done == WorkStep::kDone) {
            worker->finished = true;
            return EM_FALSE;
        }
        if (done == WorkStep::kIdle)
            return EM_TRUE;
    }
}

// Runs a first slice now and the others every 10 ms; called by
// OpenMusicStream.
Worker* StartWorker(WorkStep (*step)(void* data), void* data) {
    Worker* worker = new Worker{step, data, false, false};
    if (RunWorkerSlice(0, worker))
        emscripten_set_timeout_loop(RunWorkerSlice, kSliceMilliseconds, worker);
    return worker;
}

// Keeps the worker's step from running again and frees it; called by
// CloseMusicStream.
void StopWorker(Worker* worker) {
    if (!worker)
        return;
    if (worker->finished)
        delete worker;
    else
        worker->stopped = true;
}
