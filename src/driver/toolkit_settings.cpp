// The toolkit settings and the directories derived from them.
#include "driver/toolkit_settings.h"

namespace kestab {

namespace {

constexpr std::string_view kKeyRoot = "SOFTWARE\\Quenrotech";
constexpr std::string_view kLpcToolkitKey = "\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000";
constexpr std::string_view kLumoraKey = "\\Lumora";
constexpr std::string_view kToolkitKey = "\\Lumora\\Defaults\\Toolkits\\GNUARM7";
constexpr std::string_view kRootToken = "{ROOTDIR}";
// The token and the separator that normally follows it.
constexpr std::size_t kRootPrefixLength = 10;

}  // namespace

std::string ToolkitSettings::readSetting(std::string_view subPath, std::string_view valueName) const {
    std::string keyPath(kKeyRoot);
    keyPath.append(subPath);
    return store_.read(keyPath, valueName).value_or(std::string());
}

std::string ToolkitSettings::toolkitDirectory() const {
    return deriveToolkitDirectory(readSetting(kLpcToolkitKey, "toolkitdir"), readSetting(kLumoraKey, "rootdir"));
}

std::string ToolkitSettings::libraryDirectory() const {
    std::string directory = readSetting(kToolkitKey, "toolkitDir");
    if (!directory.empty()) directory += "\\lib\\";
    return directory;
}

std::string deriveToolkitDirectory(const std::string& toolkitdir, const std::string& rootdir) {
    if (toolkitdir.find(kRootToken) == std::string::npos) return toolkitdir;
    // The first ten characters give way to the root directory, whatever
    // they are and wherever the token stands.
    std::string directory = rootdir + "\\";
    if (toolkitdir.size() > kRootPrefixLength) directory.append(toolkitdir, kRootPrefixLength);
    return directory;
}

}  // namespace kestab
