// STUB: to be replaced.
#include "platform/child_process.h"
namespace kestab::platform {
CaptureOutcome runCaptured(const std::string&, const std::vector<std::string>&, const std::string&, std::int32_t&, const WaitSchedule&) { return CaptureOutcome::SetupFailed; }
}
