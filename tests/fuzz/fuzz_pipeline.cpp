// libFuzzer target: the fuzzer's input is the input image of one whole run.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz/pipeline_harness.h"

namespace {

// The run prints to standard output and standard error; unless told
// otherwise, libFuzzer silences both and keeps its own reports (and the
// sanitizers') on a copy of standard error.
std::vector<char*> arguments;
char closeFdMask[] = "-close_fd_mask=3";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    bool hasMask = false;
    for (int i = 0; i < *argc; ++i) {
        if (std::string_view((*argv)[i]).rfind("-close_fd_mask=", 0) == 0) hasMask = true;
    }
    if (hasMask) return 0;
    arguments.assign(*argv, *argv + *argc);
    arguments.insert(arguments.begin() + 1, closeFdMask);
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kestab::fuzz::PipelineHarness harness;
    const int status = harness.run(data, size);
    // Every way out of a run is one of the designed statuses.
    if (status != 0 && status != kestab::kExitFailure && status != kestab::kExitFileError) __builtin_trap();
    return 0;
}
