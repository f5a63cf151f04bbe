// The web side of the tests' helpers, for the unit tests run under Node
// (bodies run in this process: support_in_process.cpp).
#include "support.h"

#include <cstdlib>

void SetEnvironment(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}
