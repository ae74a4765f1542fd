// The listing file: the toolkit's objdump run on the input image, its output
// (standard output and standard error together) captured into the listing.
#include "driver/listing_generator.h"

#include <vector>

#include "platform/file_probe.h"

namespace kestab {

namespace {
constexpr std::string_view kObjdumpPath = "\\bin\\arm-elf-objdump.exe";
constexpr std::string_view kExeSuffix = ".exe";
}  // namespace

std::string ObjdumpCommand::program() const {
    std::string path = toolkitDir;
    path.append(kObjdumpPath);
    if (platform::isDrivePath(path)) {
        // A toolkit directory stored as a Windows drive path ("C:\GNUARM")
        // is looked up where that drive lives on this machine.
        path = platform::mapDrivePath(path);
    }
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    if (!platform::pathExists(path)) path.resize(path.size() - kExeSuffix.size());
    return path;
}

bool generateListing(const ObjdumpCommand& command, std::int32_t& exitCode, const std::string& listingPath,
                     const platform::WaitSchedule& schedule) {
    const std::vector<std::string> args{"-M", "reg-names-raw", "-d", "-S", command.imageName};
    return platform::runCaptured(command.program(), args, listingPath, exitCode, schedule) ==
           platform::CaptureOutcome::Ended;
}

}  // namespace kestab
