// The tests' helpers where there is no fork (Windows, and the web's tests
// under Node): a body runs in this process, CTest running each test as a
// process of its own.
#include "support.h"

#include "files.h"

ChildResult RunInChild(const std::function<int()>& body, double) {
    ChildResult result;
    result.errors = CaptureStderr([&] { result.status = body(); });
    return result;
}
