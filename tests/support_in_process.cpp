// The tests' helpers where there is no fork (Windows, and the web's tests
// under Node): a body runs in this process (CTest runs each test as a
// process of its own), and the program's own address space is its limit.
#include "support.h"

#include "files.h"

ChildResult RunInChild(const std::function<int()>& body, double) {
    ChildResult result;
    result.errors = CaptureStderr([&] { result.status = body(); });
    return result;
}

// A 32-bit program's address space, or a wasm program's memory, is its
// limit already.
void LimitAddressSpace(size_t) {}
