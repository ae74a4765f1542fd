// STUB: to be replaced.
#include "driver/listing_generator.h"
namespace kestab {
std::string ObjdumpCommand::text() const { return toolkitDir + "\\bin\\arm-elf-objdump.exe -M reg-names-raw -d -S " + imageName; }
std::string ObjdumpCommand::program() const { return {}; }
bool generateListing(const ObjdumpCommand&, std::int32_t&, const std::string&, const platform::WaitSchedule&) { return false; }
}
