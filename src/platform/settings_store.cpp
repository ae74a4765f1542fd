// The settings store, read from a .reg text file (see reg_parser.h for the
// dialects understood).
#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/process_setup.h"

namespace kestab::platform {

namespace {

void report(std::string_view storeName, unsigned line, std::string_view message) {
    std::fprintf(stderr, "kestab: settings store %.*s, line %u: %.*s; its settings read as missing\n",
                 static_cast<int>(storeName.size()), storeName.data(), line, static_cast<int>(message.size()),
                 message.data());
}

void reportUnreadable(std::string_view storeName, int error) {
    std::fprintf(stderr, "kestab: settings store %.*s, line 0: cannot be read: %s; its settings read as missing\n",
                 static_cast<int>(storeName.size()), storeName.data(), std::strerror(error));
}

// The whole file, or the errno of the failure. The store is opened without
// blocking and must be a regular file (a FIFO would block the open, a device
// could be read forever) of at most kMaxStoreBytes (EFBIG).
std::optional<std::string> readWholeFile(const std::string& path, int& error) {
    constexpr std::size_t kMaxStoreBytes = std::size_t{64} << 20;
    const Fd fd = openRegularFile(path);
    if (!fd.valid()) {
        error = errno;
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
            if (content.size() > kMaxStoreBytes) {
                error = EFBIG;
                return std::nullopt;
            }
        } else if (n == 0) {
            return content;
        } else if (errno != EINTR) {
            error = errno;
            return std::nullopt;
        }
    }
}

// A store is reported at most once per process, however often it is loaded.
bool firstReport(const std::string& storeName) {
    static std::set<std::string> reported;
    return reported.insert(storeName).second;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

SettingsStore SettingsStore::fromEnvironment() {
    std::string path = environmentValue("KESTAB_REGISTRY");
    if (path.empty()) {
        std::string prefix = environmentValue("WINEPREFIX");
        if (prefix.empty()) {
            const std::string home = environmentValue("HOME");
            if (home.empty()) return {};
            prefix = home + "/.wine";
        }
        path = prefix + "/system.reg";
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return {};
    }
    return fromFile(path);
}

SettingsStore SettingsStore::fromFile(const std::string& path) {
    int error = 0;
    const std::optional<std::string> content = readWholeFile(path, error);
    if (!content) {
        if (firstReport(path)) reportUnreadable(path, error);
        return {};
    }
    SettingsStore store;
    if (auto failure = parseRegText(*content, store.keys_)) {
        if (firstReport(path)) report(path, failure->line, failure->message);
        return {};
    }
    return store;
}

SettingsStore SettingsStore::fromText(std::string_view text, std::string_view storeName) {
    SettingsStore store;
    if (auto failure = parseRegText(text, store.keys_)) {
        report(storeName, failure->line, failure->message);
        return {};
    }
    return store;
}

std::optional<std::string> SettingsStore::read(std::string_view keyPath, std::string_view valueName) const {
    const auto key = keys_.find(normaliseKey(keyPath));
    if (key == keys_.end()) return std::nullopt;
    const auto value = key->second.find(lowerAscii(valueName));
    if (value == key->second.end()) return std::nullopt;
    return value->second;
}

}  // namespace kestab::platform
