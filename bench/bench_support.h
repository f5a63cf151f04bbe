// Helpers shared by the benchmarks: the clock, medians with their spread,
// child processes (the benchmark itself in a role, or the real binary), and
// the one line per figure that bench/report gathers into its table.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Reads the monotonic clock in nanoseconds: the same clock in every process.
long long NowNanoseconds();

// The median of a set of figures, with the smallest and the largest.
struct Spread {
    double median = 0, low = 0, high = 0;
};

// Sorts a copy of `values` and takes its median, smallest and largest; all
// zero for an empty set. Called by every benchmark that repeats a measurement.
Spread SpreadOf(std::vector<double> values);

// A child process started by a benchmark, its standard output on a pipe.
struct Child {
    pid_t pid = -1;
    int output = -1;       // read end of its standard output, -1 when not captured
    long long started = 0; // NowNanoseconds() just before the spawn
};

// Starts `argv` (argv[0] is the path) with the environment plus `environment`
// entries ("NAME=value"); standard output goes to a pipe when `capture`, else
// to /dev/null. pid -1 when it cannot start. Called by the benchmarks that
// time a fresh process.
Child StartChild(const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment = {}, bool capture = true);

// Reads the child's standard output until it closes it or `timeoutSeconds`
// pass (the child is then killed); called after StartChild.
std::string ReadChildOutput(Child& child, double timeoutSeconds = 60);

// How a child ended: its exit status (-1 when killed, or still running after
// the timeout and then killed) and the peak of its resident memory.
struct ChildEnd {
    int status = -1;
    long peakKilobytes = 0;
};

// Waits up to `timeoutSeconds` for the child, then kills it; called last for
// every child.
ChildEnd WaitForChild(Child& child, double timeoutSeconds = 60);

// The value after "key " on a line of a role's report ("key value\n" lines);
// -1 when absent. Called by the parents of roles.
double ReportValue(const std::string& report, const std::string& key);

// Prints "key value" for the parent and flushes; called by roles.
void ReportToParent(const char* key, double value);

// The path of this executable, to start it again in a role.
std::string OwnPath();

// The demo binary beside the benchmarks: <build>/movra.
std::string DemoBinaryPath();

// Tells whether "--table" is among the arguments (and removes it, so the
// benchmark's own arguments keep their places).
bool TakeTableOption(int& argc, char** argv);

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "a-b" for a spread of ratios or values, with `decimals` decimals.
std::string RangeText(const Spread& spread, int decimals);

// Prints one row of the report's table, tab-separated: the figure, the
// demo's value, the floor it is set against, the ratio (demo / floor) and
// the spread of that ratio over the rounds. Called in --table mode.
void PrintTableRow(const std::string& figure, const std::string& value, const std::string& floor,
                   const std::string& ratio, const std::string& spread);

struct SDL_Window;

// Creates SDL's desktop-sized window and a GL context, as any SDL GL
// program does first; null on failure. Called by the floors of the start-up
// and idle benchmarks.
SDL_Window* CreateFloorWindow();
