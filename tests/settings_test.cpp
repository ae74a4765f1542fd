// The settings store (.reg files in both dialects) and the toolkit settings
// derived from it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "driver/toolkit_settings.h"
#include "platform/settings_store.h"
#include "support/test_support.h"

namespace kestab {
namespace {

using platform::SettingsStore;
using test::regEscape;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

constexpr const char* kLumora = "SOFTWARE\\Quenrotech\\Lumora";
constexpr const char* kLpc = "SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000";
constexpr const char* kArm7 = "SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7";


// The same settings in the three headers and both line-end styles.
const std::string kRegeditBody =
    "\n"
    "; exported settings\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora]\n"
    "\"rootdir\"=\"C:\\\\IDE\"\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\n"
    "\"Number\"=dword:00000010\n"
    "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
    "  16,17,18,19\n"
    "\"Expand\"=hex(2):25,00,41,00,00,00\n"
    "\"Empty\"=\"\"\n"
    "@=\"default value\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000]\n"
    "\"toolkitdir\"=\"{ROOTDIR}\\\\GNUARM\"\n"
    "\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Quenrotech\\Lumora]\n"
    "\"user\"=\"not a machine setting\"\n";

const std::string kWineText =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win32\n"
    "\n"
    "[Software\\\\Quenrotech\\\\Lumora] 1700000000\n"
    "#time=1d9f3c2a4b5e6f0\n"
    "\"rootdir\"=\"C:\\\\IDE\"\n"
    "\"Quoted\"=\"say \\\"hi\\\"\"\n"
    "\"Number\"=dword:00000010\n"
    "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
    "  16,17,18,19\n"
    "\"Expand\"=str(2):\"%SystemRoot%\"\n"
    "\"Empty\"=\"\"\n"
    "@=\"default value\"\n"
    "\n"
    "[Software\\\\Quenrotech\\\\Lumora\\\\Defaults\\\\Toolkits\\\\GNUARM7 LPC2000] 1700000001\n"
    "#time=1d9f3c2a4b5e6f1\n"
    "\"toolkitdir\"=\"{ROOTDIR}\\\\GNUARM\"\n";

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

std::string toUtf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

SettingsStore quietStore(const std::string& text, const std::string& name) {
    testing::internal::CaptureStderr();
    SettingsStore store = SettingsStore::fromText(text, name);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "") << name;
    return store;
}

TEST(SettingsStore, ReadsBothDialectsAlike) {
    struct Dialect {
        const char* name;
        std::string text;
    };
    const std::vector<Dialect> dialects = {
        {"regedit 5 LF", "Windows Registry Editor Version 5.00\n" + kRegeditBody},
        {"regedit 5 CRLF", withCrLf("Windows Registry Editor Version 5.00\n" + kRegeditBody)},
        {"regedit 5 UTF-16", toUtf16le(withCrLf("Windows Registry Editor Version 5.00\n" + kRegeditBody))},
        {"REGEDIT4", "REGEDIT4\n" + kRegeditBody},
        {"wine LF", kWineText},
        {"wine CRLF", withCrLf(kWineText)},
    };
    struct Lookup {
        const char* key;
        const char* value;
        std::optional<std::string> expected;
    };
    const std::vector<Lookup> lookups = {
        {kLumora, "rootdir", "C:\\IDE"},
        {kLumora, "ROOTDIR", "C:\\IDE"},                         // value names ignore case
        {"software\\QUENROTECH\\lumora", "rootdir", "C:\\IDE"},  // key paths ignore case
        {"SOFTWARE\\Quenrotech\\Lumora\\", "rootdir", "C:\\IDE"},
        {kLumora, "Quoted", "say \"hi\""},
        {kLumora, "Empty", ""},
        {kLumora, "", "default value"},
        {kLumora, "Number", std::nullopt},  // dword
        {kLumora, "Blob", std::nullopt},    // hex over two lines
        {kLumora, "Expand", std::nullopt},  // hex(2) / str(2)
        {kLumora, "missing", std::nullopt},
        {kLpc, "toolkitdir", "{ROOTDIR}\\GNUARM"},
        {kLpc, "TOOLKITDIR", "{ROOTDIR}\\GNUARM"},
        {kArm7, "toolkitdir", std::nullopt},  // key missing
        {"SOFTWARE\\Quenrotech", "rootdir", std::nullopt},
        {kLumora, "user", std::nullopt},  // belongs to another root
    };
    for (const auto& dialect : dialects) {
        const SettingsStore store = quietStore(dialect.text, dialect.name);
        for (const auto& lookup : lookups) {
            SCOPED_TRACE(std::string(dialect.name) + ": " + lookup.key + " / " + lookup.value);
            EXPECT_EQ(store.read(lookup.key, lookup.value), lookup.expected);
        }
    }
}

TEST(SettingsStore, EscapesAndValueSyntax) {
    const SettingsStore regedit = quietStore(
        "REGEDIT4\n"
        "[HKEY_LOCAL_MACHINE\\K]\n"
        "\"back\"=\"a\\\\b\\\\\"\n"  // trailing escaped backslash
        "\"quote\"=\"\\\"\"\n"
        "\"semi\"=\"a;b=c [d]\"\n"
        "\"loose\"=\"C:\\IDE\"\n"  // a lone backslash stays as written
        "\"na\\\"me\"=\"quoted name\"\n"
        "\"later\"=\"first\"\n"
        "\"later\"=\"second\"\n"
        "\"gone\"=\"x\"\n"
        "\"gone\"=-\n"
        "\"long\"=\"" +
            std::string(3000, 'L') + "\"\n",
        "escapes.reg");
    EXPECT_EQ(regedit.read("K", "back"), "a\\b\\");
    EXPECT_EQ(regedit.read("K", "quote"), "\"");
    EXPECT_EQ(regedit.read("K", "semi"), "a;b=c [d]");
    EXPECT_EQ(regedit.read("K", "loose"), "C:\\IDE");
    EXPECT_EQ(regedit.read("K", "na\"me"), "quoted name");
    EXPECT_EQ(regedit.read("K", "later"), "second");
    EXPECT_EQ(regedit.read("K", "gone"), std::nullopt);
    EXPECT_EQ(regedit.read("K", "long"), std::string(3000, 'L'));  // kept whole

    const SettingsStore wine = quietStore(
        "WINE REGISTRY Version 2\n"
        "[Key\\\\With \\[brackets\\]] 1\n"
        "\"c\"=\"tab\\tnl\\nx\\x00e9o\\101\"\n"
        "\"letters\"=\"\\a\\b\\e\\f\\r\\v\\q\"\n",
        "escapes-wine.reg");
    EXPECT_EQ(wine.read("Key\\With [brackets]", "letters"), "\a\b\x1b\f\r\vq");
    EXPECT_EQ(wine.read("Key\\With [brackets]", "c"),
              "tab\tnl\nx\xC3\xA9o"
              "A");
}

TEST(SettingsStore, MalformedStoreIsReportedOnceAndReadsEmpty) {
    struct Case {
        const char* what;
        std::string text;
        unsigned line;
    };
    const std::vector<Case> cases = {
        {"unknown header", "this is not a registry\n", 1},
        {"unterminated string", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"\n\"c\"=\"open\n", 5},
        {"unterminated name", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"a=\"b\"\r\n", 3},
        {"no '='", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"a\" \"b\"\n", 3},
        {"junk after value", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\" x\n", 3},
        {"open section", "WINE REGISTRY Version 2\n[Key\\\\K 17\n", 2},
        {"junk after section", "WINE REGISTRY Version 2\n[K] 17 x\n", 2},
        {"stray line", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\nrootdir=x\n", 3},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = std::string("broken ") + c.what + ".reg";
        testing::internal::CaptureStderr();
        const SettingsStore store = SettingsStore::fromText(c.text, name);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(name + ", line " + std::to_string(c.line) + ":"), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_EQ(store.read("K", "a"), std::nullopt);  // values before the fault are dropped too
    }
}

TEST(SettingsStore, FileStoreReportedOnlyOnce) {
    TempDir dir;
    const auto path = (dir / "bad.reg").string();
    writeFile(path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"\n\"c\"=\n");
    testing::internal::CaptureStderr();
    const SettingsStore first = SettingsStore::fromFile(path);
    const SettingsStore second = SettingsStore::fromFile(path);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(first.read("K", "a"), std::nullopt);
    EXPECT_EQ(second.read("K", "a"), std::nullopt);
    EXPECT_NE(err.find(path + ", line 4:"), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

TEST(SettingsStore, UnreadableStoreIsReportedAndReadsEmpty) {
    TempDir dir;
    for (const std::string& path : std::vector<std::string>{(dir / "missing.reg").string(), dir.path().string()}) {
        SCOPED_TRACE(path);
        testing::internal::CaptureStderr();
        const SettingsStore store = SettingsStore::fromFile(path);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(path), std::string::npos) << err;
        EXPECT_EQ(store.read(kLumora, "rootdir"), std::nullopt);
    }
}

TEST(SettingsStore, FromEnvironmentPicksTheStore) {
    TempDir dir;
    const auto named = dir / "named.reg";
    writeFile(named, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora]\n\"rootdir\"=\"named\"\n");
    const auto prefix = dir / "prefix";
    std::filesystem::create_directories(prefix);
    const auto home = dir / "home";
    std::filesystem::create_directories(home / ".wine");

    // KESTAB_REGISTRY first.
    {
        ScopedEnv reg("KESTAB_REGISTRY", named.string());
        ScopedEnv wine("WINEPREFIX", prefix.string());
        EXPECT_EQ(SettingsStore::fromEnvironment().read(kLumora, "rootdir"), "named");
    }
    // No store at all: silent, everything missing.
    {
        ScopedEnv reg("KESTAB_REGISTRY", std::nullopt);
        ScopedEnv wine("WINEPREFIX", prefix.string());
        testing::internal::CaptureStderr();
        EXPECT_EQ(SettingsStore::fromEnvironment().read(kLumora, "rootdir"), std::nullopt);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    // $WINEPREFIX/system.reg.
    writeFile(prefix / "system.reg",
              "WINE REGISTRY Version 2\n[Software\\\\Quenrotech\\\\Lumora] 1\n\"rootdir\"=\"wine\"\n");
    {
        ScopedEnv reg("KESTAB_REGISTRY", std::nullopt);
        ScopedEnv wine("WINEPREFIX", prefix.string());
        EXPECT_EQ(SettingsStore::fromEnvironment().read(kLumora, "rootdir"), "wine");
    }
    // $HOME/.wine/system.reg when WINEPREFIX is unset.
    writeFile(home / ".wine" / "system.reg",
              "WINE REGISTRY Version 2\n[Software\\\\Quenrotech\\\\Lumora] 1\n\"rootdir\"=\"home\"\n");
    {
        ScopedEnv reg("KESTAB_REGISTRY", std::nullopt);
        ScopedEnv wine("WINEPREFIX", std::nullopt);
        ScopedEnv homeVar("HOME", home.string());
        EXPECT_EQ(SettingsStore::fromEnvironment().read(kLumora, "rootdir"), "home");
    }
}

TEST(SettingsStore, WineUserFileIsNotTheMachineRoot) {
    const SettingsStore store = quietStore(
        "WINE REGISTRY Version 2\n"
        ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
        "[Software\\\\Quenrotech\\\\Lumora] 1\n\"rootdir\"=\"user\"\n",
        "user.reg");
    EXPECT_EQ(store.read(kLumora, "rootdir"), std::nullopt);
}

// --- toolkit settings ---------------------------------------------------------

std::string regText(const std::optional<std::string>& toolkitdir, const std::optional<std::string>& rootdir,
                    const std::optional<std::string>& libToolkitDir = std::nullopt) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora]\r\n";
    if (rootdir) text += "\"rootdir\"=\"" + regEscape(*rootdir) + "\"\r\n";
    text += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000]\r\n";
    if (toolkitdir) text += "\"toolkitdir\"=\"" + regEscape(*toolkitdir) + "\"\r\n";
    text += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7]\r\n";
    if (libToolkitDir) text += "\"toolkitDir\"=\"" + regEscape(*libToolkitDir) + "\"\r\n";
    return text;
}

TEST(ToolkitSettings, ToolkitDirectoryTable) {
    struct Row {
        std::optional<std::string> toolkitdir;
        std::optional<std::string> rootdir;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {std::nullopt, "C:\\IDE", ""},
        {"C:\\GNUARM", "C:\\IDE", "C:\\GNUARM"},
        {"{ROOTDIR}\\GNUARM", "C:\\IDE", "C:\\IDE\\GNUARM"},
        {"{ROOTDIR}\\GNUARM", std::nullopt, "\\GNUARM"},
        {"{ROOTDIR}/GNUARM", "C:\\IDE", "C:\\IDE\\GNUARM"},
        {"{ROOTDIR}GNUARM", "C:\\IDE", "C:\\IDE\\NUARM"},
        {"C:\\x\\{ROOTDIR}", "C:\\IDE", "C:\\IDE\\DIR}"},
        {"{ROOTDIR}", "C:\\IDE", "C:\\IDE\\"},
        // beyond the table: the exact ten-character case, and a long value
        {"{ROOTDIR}\\", "/opt/ide", "/opt/ide\\"},
        {"{ROOTDIR}\\" + std::string(2000, 'd'), "R", "R\\" + std::string(2000, 'd')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.toolkitdir.value_or("(missing)") + " with " + row.rootdir.value_or("(missing)"));
        const SettingsStore store = quietStore(regText(row.toolkitdir, row.rootdir), "table.reg");
        const ToolkitSettings settings(store);
        EXPECT_EQ(settings.toolkitDirectory(), row.expected);
        EXPECT_EQ(deriveToolkitDirectory(row.toolkitdir.value_or(""), row.rootdir.value_or("")), row.expected);
    }
}

TEST(ToolkitSettings, LibraryDirectory) {
    struct Row {
        std::optional<std::string> toolkitDir;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"C:\\GNUARM7", "C:\\GNUARM7\\lib\\"},
        {"", ""},
        {std::nullopt, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.toolkitDir.value_or("(missing)"));
        const SettingsStore store = quietStore(regText("C:\\LPC", "C:\\IDE", row.toolkitDir), "lib.reg");
        const ToolkitSettings settings(store);
        EXPECT_EQ(settings.libraryDirectory(), row.expected);
        // "toolkitdir" and "toolkitDir" are the same name; only the key tells them apart.
        EXPECT_EQ(settings.toolkitDirectory(), "C:\\LPC");
    }
}

TEST(ToolkitSettings, ReadSettingAndNoStore) {
    const SettingsStore store = quietStore(regText("C:\\LPC", "C:\\IDE"), "read.reg");
    const ToolkitSettings settings(store);
    EXPECT_EQ(settings.readSetting("\\Lumora", "rootdir"), "C:\\IDE");
    EXPECT_EQ(settings.readSetting("\\lumora", "RootDir"), "C:\\IDE");
    EXPECT_EQ(settings.readSetting("\\Lumora", "nothing"), "");
    EXPECT_EQ(settings.readSetting("\\Nowhere", "rootdir"), "");

    const SettingsStore none;
    const ToolkitSettings empty(none);
    EXPECT_EQ(empty.toolkitDirectory(), "");
    EXPECT_EQ(empty.libraryDirectory(), "");
}

}  // namespace
}  // namespace kestab
