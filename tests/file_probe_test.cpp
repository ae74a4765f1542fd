// The existence probe and the mapping of drive paths.
#include "platform/file_probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kestab {
namespace {

namespace fs = std::filesystem;
using platform::fileExists;
using platform::mapDrivePath;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;


TEST(FileProbe, PlainPaths) {
    TempDir dir;
    writeFile(dir / "main.c", "int main;\n");
    fs::create_directories(dir / "sub dir");
    const std::string base = dir.path().string() + "/";
    struct Case {
        std::string directory;
        std::string name;
        bool exists;
    };
    const std::vector<Case> cases = {
        {"", base + "main.c", true},
        {base, "main.c", true},
        {"", base + "sub dir", true},  // a directory counts
        {base, "sub dir", true},
        {base, "sub dir/", true},
        {base, "missing.c", false},
        {base + "sub dir/", "main.c", false},
        {dir.path().string(), "main.c", false},  // joined without a separator
        {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.directory + "' + '" + c.name + "'");
        EXPECT_EQ(fileExists(c.directory, c.name), c.exists);
    }
}

TEST(FileProbe, RelativeNamesAreTakenFromTheCurrentDirectory) {
    TempDir dir;
    writeFile(dir / "here.c", "");
    const fs::path old = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_TRUE(fileExists("", "here.c"));
    EXPECT_TRUE(fileExists("", "."));
    EXPECT_FALSE(fileExists("", "there.c"));
    fs::current_path(old);
}

TEST(FileProbe, DrivePathsThroughWinePrefix) {
    TempDir dir;
    const fs::path prefix = dir / "wine prefix";
    const fs::path drive = dir / "drive c";
    fs::create_directories(prefix / "dosdevices");
    fs::create_directories(drive / "work" / "lib");
    writeFile(drive / "work" / "main.c", "");
    fs::create_directory_symlink(drive, prefix / "dosdevices" / "c:");
    ScopedEnv wine("WINEPREFIX", prefix.string());

    const std::string device = (prefix / "dosdevices" / "c:").string();
    EXPECT_EQ(mapDrivePath("C:\\work\\main.c"), device + "/work/main.c");
    EXPECT_EQ(mapDrivePath("c:/work\\lib\\"), device + "/work/lib/");

    struct Case {
        std::string directory;
        std::string name;
        bool exists;
    };
    const std::vector<Case> cases = {
        {"", "C:\\work\\main.c", true},   {"c:\\work\\", "main.c", true},
        {"C:/work/", "main.c", true},     {"C:\\work\\", "lib", true},
        {"C:\\work\\", "other.c", false}, {"D:\\work\\", "main.c", false},  // no such drive: /cygdrive/d
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory + c.name);
        EXPECT_EQ(fileExists(c.directory, c.name), c.exists);
    }
}

TEST(FileProbe, DrivePathFallsBackToCygdrive) {
    TempDir dir;
    {
        ScopedEnv wine("WINEPREFIX", (dir / "empty prefix").string());
        EXPECT_EQ(mapDrivePath("D:\\src\\app\\main.c"), "/cygdrive/d/src/app/main.c");
        EXPECT_EQ(mapDrivePath("z:/a\\b"), "/cygdrive/z/a/b");
        EXPECT_EQ(mapDrivePath("C:\\"), "/cygdrive/c/");
    }
    // Without WINEPREFIX the prefix is $HOME/.wine.
    fs::create_directories(dir / ".wine" / "dosdevices" / "e:");
    {
        ScopedEnv wine("WINEPREFIX", std::nullopt);
        ScopedEnv home("HOME", dir.path().string());
        EXPECT_EQ(mapDrivePath("E:\\x"), (dir / ".wine" / "dosdevices" / "e:").string() + "/x");
        EXPECT_EQ(mapDrivePath("F:\\x"), "/cygdrive/f/x");
    }
}

TEST(FileProbe, OnlyDrivePathsAreMapped) {
    for (const std::string& text : std::vector<std::string>{"main.c", "C:", "C:main.c", "1:\\x", "\\\\server\\share\\x",
                                                            "src\\main.c", "/cygdrive/c/x", "", "::\\x"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(mapDrivePath(text), text);
    }
}

}  // namespace
}  // namespace kestab
