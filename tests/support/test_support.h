// Helpers shared by the tests: temporary directories, running the built
// binary, reading and writing whole files, and throw-away toolkits.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestab::test {

namespace fs = std::filesystem;

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Sets (or, with no value, unsets) an environment variable for the life of
// the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct ProcessResult {
    int status = -1;  // exit status 0..255, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] is the program path) in `cwd` with the environment
// of this process changed by `env` (an empty value unsets the variable).
ProcessResult runProcess(const std::vector<std::string>& argv, const fs::path& cwd = {},
                         const std::map<std::string, std::string>& env = {});

// Runs the built kestab with `args` after the program name.
ProcessResult runKestab(const std::vector<std::string>& args, const fs::path& cwd = {},
                        const std::map<std::string, std::string>& env = {});

std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& bytes);

fs::path fixturePath(const std::string& relative);
fs::path sourcePath(const std::string& relative);
fs::path kestabBinary();

// Makes `dir`/bin/arm-elf-objdump a link to `objdump` (default: Debian's
// arm-none-eabi-objdump) and returns `dir`.
fs::path makeToolkit(const fs::path& dir, const fs::path& objdump = "/usr/bin/arm-none-eabi-objdump");

// Makes `dir`/bin/arm-elf-objdump a stand-in objdump: a shell script whose
// body (after "#!/bin/sh") is `body`. Returns `dir`.
fs::path makeScriptToolkit(const fs::path& dir, const std::string& body);

// Writes a regedit-style store naming `toolkitDir` as the GNUARM7 LPC2000
// toolkit directory and, when not empty, `libToolkitDir` as the GNUARM7
// toolkitDir. Returns the store's path.
fs::path writeToolkitRegistry(const fs::path& file, const std::string& toolkitDir,
                              const std::string& libToolkitDir = "");

// The environment for a run with the given store and an isolated HOME and
// WINEPREFIX, so nothing of the machine's own settings leaks in.
std::map<std::string, std::string> isolatedEnv(const fs::path& registry, const fs::path& winePrefix);

}  // namespace kestab::test
