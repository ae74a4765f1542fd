// STUB: to be replaced.
#include "platform/settings_store.h"
namespace kestab::platform {
SettingsStore SettingsStore::fromEnvironment() { return {}; }
SettingsStore SettingsStore::fromFile(const std::string&) { return {}; }
SettingsStore SettingsStore::fromText(std::string_view, std::string_view) { return {}; }
std::optional<std::string> SettingsStore::read(std::string_view, std::string_view) const { return std::nullopt; }
}
