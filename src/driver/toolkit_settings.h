// The toolkit settings: where the objdump of the toolkit lives, and the
// library directory that is the second place to look for source files.
#pragma once

#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace kestab {

class ToolkitSettings {
public:
    explicit ToolkitSettings(const platform::SettingsStore& store) : store_(store) {}

    // The value `valueName` of the key "SOFTWARE\Quenrotech" + `subPath`
    // (a sub-path beginning with '\'); the empty text when key or value is
    // missing. Values are returned whole.
    std::string readSetting(std::string_view subPath, std::string_view valueName) const;

    // `toolkitdir` of "\Lumora\Defaults\Toolkits\GNUARM7 LPC2000", with the
    // "{ROOTDIR}" rule applied using `rootdir` of "\Lumora".
    std::string toolkitDirectory() const;

    // `toolkitDir` of "\Lumora\Defaults\Toolkits\GNUARM7" followed by
    // "\lib\", or the empty text when the value is missing or empty.
    std::string libraryDirectory() const;

private:
    const platform::SettingsStore& store_;
};

// The "{ROOTDIR}" rule on its own, for a toolkitdir and a rootdir text.
std::string deriveToolkitDirectory(const std::string& toolkitdir, const std::string& rootdir);

}  // namespace kestab
