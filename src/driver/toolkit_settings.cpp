// STUB: to be replaced.
#include "driver/toolkit_settings.h"
namespace kestab {
std::string ToolkitSettings::readSetting(std::string_view, std::string_view) const { return {}; }
std::string ToolkitSettings::toolkitDirectory() const { return {}; }
std::string ToolkitSettings::libraryDirectory() const { return {}; }
std::string deriveToolkitDirectory(const std::string& t, const std::string&) { return t; }
}
