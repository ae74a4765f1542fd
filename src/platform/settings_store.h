// The settings store: the registry values the tool reads. On Windows the
// system registry; on POSIX a text file of the .reg format (a regedit export
// or Wine's system.reg), which also serves tests everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/reg_parser.h"

namespace kestab::platform {

class SettingsStore {
public:
    // No store: every setting reads as missing.
    SettingsStore() = default;

    // The store of this process. On Windows the registry below
    // HKEY_LOCAL_MACHINE: each key in the 32-bit view (where a 32-bit IDE's
    // installer writes) and, when it is not there, in the 64-bit view. On
    // POSIX the file named by KESTAB_REGISTRY, else $WINEPREFIX/system.reg
    // (WINEPREFIX defaults to $HOME/.wine) when it exists, else none.
    // A store file that cannot be read or parsed is reported once on
    // standard error with its name and line number; it then reads as empty.
    static SettingsStore fromEnvironment();
    static SettingsStore fromFile(const std::string& path);
    static SettingsStore fromText(std::string_view text, std::string_view storeName);

    // `keyPath` is relative to HKEY_LOCAL_MACHINE, with '\' separators
    // ("SOFTWARE\Quenrotech\Lumora"). Key paths and value names compare
    // without regard to case; only string values are answered.
    std::optional<std::string> read(std::string_view keyPath, std::string_view valueName) const;

private:
    // A value of the system registry (Windows; nothing on POSIX).
    static std::optional<std::string> readSystem(std::string_view keyPath, std::string_view valueName);

    RegistryKeys keys_;
    bool system_ = false;  // answered by readSystem instead of keys_
};

}  // namespace kestab::platform
