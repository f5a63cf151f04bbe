// libFuzzer's entry: MOVRA_FUZZ_TARGET names the body it runs (jpeg or
// music), set by the build for each fuzzer.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MOVRA_FUZZ_TARGET(data, size);
    return 0;
}
