// The web's workers: the page's program has no threads, so a worker's steps
// run on the main thread between the browser's other events, every 10 ms,
// and whenever the audio callback asks for them.
#include "platform/worker.h"

#include <emscripten/html5.h>

struct Worker {
    WorkStep (*step)(void* data);
    void* data;
    bool stopped;  // StopWorker came while a slice was due: that slice frees it
    bool finished; // the job is done: its step runs no more
    bool sliced;   // a slice is due from the browser
};

constexpr double kSliceMilliseconds = 10;

// Runs steps until one finds nothing to do or the job is done; called by
// RunWorkerSlice, StartWorker and RunWorkerNow.
static void RunSteps(Worker* worker) {
    while (!worker->finished) {
        const WorkStep done = worker->step(worker->data);
        if (done == WorkStep::kDone)
            worker->finished = true;
        else if (done == WorkStep::kIdle)
            return;
    }
}

// Runs one slice; false once the worker is done or stopped, which ends its
// slices. Called by the browser every 10 ms.
static EM_BOOL RunWorkerSlice(double, void* data) {
    Worker* worker = static_cast<Worker*>(data);
    if (!worker->stopped)
        RunSteps(worker);
    if (!worker->stopped && !worker->finished)
        return EM_TRUE;
    worker->sliced = false;
    if (worker->stopped)
        delete worker;
    return EM_FALSE;
}

// Runs a first slice now and the others every 10 ms; called by
// OpenMusicStream.
Worker* StartWorker(WorkStep (*step)(void* data), void* data) {
    Worker* worker = new Worker{step, data, false, false, false};
    RunSteps(worker);
    if (!worker->finished) {
        worker->sliced = true;
        emscripten_set_timeout_loop(RunWorkerSlice, kSliceMilliseconds, worker);
    }
    return worker;
}

// Runs a slice now, between the browser's; called by the audio callback.
void RunWorkerNow(Worker* worker) {
    if (worker && !worker->stopped)
        RunSteps(worker);
}

// Keeps the worker's step from running again and frees it, at once or in
// the slice that is due; called by CloseMusicStream.
void StopWorker(Worker* worker) {
    if (!worker)
        return;
    if (worker->sliced)
        worker->stopped = true;
    else
        delete worker;
}
