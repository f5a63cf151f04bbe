// The web side of the tests' helpers, for the unit tests run under Node:
// bodies run in this process, as on Windows, and the program's memory is
// the limit of its address space.
#include "support.h"

#include "files.h"

#include <cstdlib>

ChildResult RunInChild(const std::function<int()>& body, double) {
    ChildResult result;
    result.errors = CaptureStderr([&] { result.status = body(); });
    return result;
}

// The wasm program's memory can't grow past 4 GiB, whatever is asked.
void LimitAddressSpace(size_t) {}

void SetEnvironment(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}
