// Making the listing file: the toolkit's objdump run as a child process, its
// output captured into the listing file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/child_process.h"

namespace kestab {

struct ObjdumpCommand {
    std::string toolkitDir;  // possibly empty
    std::string imageName;   // the input image name exactly as it was opened

    // The program to run on POSIX: toolkitDir + "\bin\arm-elf-objdump.exe"
    // with every '\' turned into '/' (a drive path mapped as the existence
    // probe maps it), or the same without ".exe" when the .exe file does not
    // exist.
    std::string program() const;
};

// True when the child was started, its output copied into `listingPath`
// and it ended in time (exitCode then holds its exit status). False when it
// could not be set up or started (exitCode untouched), or when it was still
// running at the last status query (killed, exitCode 241).
bool generateListing(const ObjdumpCommand& command, std::int32_t& exitCode,
                     const std::string& listingPath,
                     const platform::WaitSchedule& schedule = {});

}  // namespace kestab
