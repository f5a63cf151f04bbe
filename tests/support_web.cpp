// The web side of the tests' helpers, for the unit tests run under Node
// (bodies run in this process: support_in_process.cpp).
#include "support.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// A wasm program's memory grows to 2 GiB at most, as a 32-bit program's
// address space: a limit within a few times `bytes` already.
bool LimitAddressSpace(size_t bytes) {
    return (size_t(2) << 30) / 4 < bytes;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

intptr_t OpenAsWriter(const std::string& path) {
    return open(path.c_str(), O_WRONLY);
}

void CloseWriter(intptr_t writer) {
    close(int(writer));
}
