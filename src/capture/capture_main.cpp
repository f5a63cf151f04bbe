// The capture tool's entry: read the options, capture, shut down.
#include "app/app.h"
#include "capture/capture.h"

#include <csignal>
#include <cstdlib>

// Captures what the command line asks for; the result is the exit status
// (2 for a bad command line, 1 when the output could not be made); a
// SIGINT or SIGTERM ends it by that signal once the output is cleaned up.
int main(int argc, char** argv) {
    CaptureOptions options;
    if (const int status = ParseCaptureOptions(argc, argv, &options))
        return status;
    if (options.help) {
        PrintCaptureUsage();
        return 0;
    }
    // A tool with no window reports errors on standard error only: a box
    // would wait for a click that may never come.
    setenv("MOVRA_NO_DIALOGS", "1", 0);
    const int status = RunCapture(options);
    if (g_captureStop) {
        // Cleaned up; now end as the signal asked, so the caller sees it.
        std::signal(g_captureStop, SIG_DFL);
        std::raise(g_captureStop);
    }
    if (status == 0)
        ShutdownDemo();
    return status;
}
