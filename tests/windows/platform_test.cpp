// The Windows platform layer under Wine: the child process with the fake
// objdump, the registry views, the existence probe and image opening.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/file_probe.h"
#include "platform/process_setup.h"
#include "platform/settings_store.h"
#include "support/test_support.h"

namespace kestab::test {
namespace {

using platform::CaptureOutcome;

// The fake objdump beside this test program.
std::string fakeObjdump() {
    char self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    return (fs::path(std::string(self, n)).parent_path() / KESTAB_FAKE_OBJDUMP).string();
}

struct ChildCase {
    const char* name;
    std::vector<std::string> args;
    CaptureOutcome outcome;
    std::int32_t exitCode;  // 7 stands for "untouched"
    std::string output;     // the captured file
};

TEST(WindowsChild, OutcomesOfTheFakeObjdump) {
    const ChildCase cases[] = {
        {"arguments quoted only when needed",
         {"--args", "-M", "a b", "q\"uote", "", "C:\\dir\\"},
         CaptureOutcome::Ended,
         0,
         "[-M]\n[a b]\n[q\"uote]\n[]\n[C:\\dir\\]\n"},
        {"bytes as written, line ends unchanged", {"--exit", "0", "a\r\nb\nc"}, CaptureOutcome::Ended, 0, "a\r\nb\nc"},
        {"a non-zero exit is the child's own", {"--exit", "3", "err"}, CaptureOutcome::Ended, 3, "err"},
        {"running on after its output ended: killed", {"--linger"}, CaptureOutcome::Killed, 241, "x"},
        {"silent for the limit: killed", {"--silent"}, CaptureOutcome::Silent, 241, ""},
    };
    const platform::WaitSchedule quick{6, 10, 500};  // 630 ms wait, 0.5 s silence
    TempDir dir;
    for (const ChildCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t exitCode = 7;
        const fs::path out = dir / "out.lst";
        const auto result = platform::runCaptured(fakeObjdump(), c.args, out.string(), exitCode, quick);
        EXPECT_EQ(result.outcome, c.outcome) << platform::errorText(result.error);
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(readFile(out), c.output);
    }
}

// A grandchild that holds the output pipe neither holds up the run nor
// outlives it: the child's job is killed.
TEST(WindowsChild, GrandchildHoldingThePipeIsKilled) {
    TempDir dir;
    const fs::path idFile = dir / "grandchild.id";
    std::int32_t exitCode = 7;
    const ULONGLONG start = ::GetTickCount64();
    const auto r = platform::runCaptured(fakeObjdump(), {"--spawn", idFile.string()}, (dir / "a.lst").string(),
                                         exitCode, platform::WaitSchedule{6, 100, 20000});
    EXPECT_EQ(r.outcome, CaptureOutcome::Ended);
    EXPECT_EQ(exitCode, 0);
    EXPECT_LT(::GetTickCount64() - start, 10000u);
    const HANDLE grandchild =
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(readFile(idFile))));
    if (grandchild == nullptr) return;  // gone already
    EXPECT_EQ(::WaitForSingleObject(grandchild, 3000), WAIT_OBJECT_0);
    ::TerminateProcess(grandchild, 1);
    ::CloseHandle(grandchild);
}

TEST(WindowsChild, SetUpFailuresLeaveTheExitCode) {
    TempDir dir;
    std::int32_t exitCode = 7;
    auto r = platform::runCaptured((dir / "missing.exe").string(), {}, (dir / "a.lst").string(), exitCode);
    EXPECT_EQ(r.outcome, CaptureOutcome::StartFailed);
    EXPECT_EQ(r.error, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(platform::errorText(r.error), "error 2");  // the system's text
    EXPECT_EQ(readFile(dir / "a.lst"), "");              // created, left empty
    r = platform::runCaptured(fakeObjdump(), {}, (dir / "no" / "a.lst").string(), exitCode);
    EXPECT_EQ(r.outcome, CaptureOutcome::CreateFailed);
    EXPECT_EQ(exitCode, 7);
}

// Writes `value` as toolkitdir of a test key in one registry view.
void setValue(REGSAM view, const char* value) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenrotech\\KestabTest", 0, nullptr, 0,
                                KEY_SET_VALUE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExA(key, "toolkitdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                     static_cast<DWORD>(std::strlen(value) + 1));
    ::RegCloseKey(key);
}

void deleteTestKey(REGSAM view) {
    HKEY parent = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quenrotech", 0, KEY_ALL_ACCESS | view, &parent) ==
        ERROR_SUCCESS) {
        ::RegDeleteTreeA(parent, "KestabTest");
        ::RegCloseKey(parent);
    }
}

TEST(WindowsSettings, ThirtyTwoBitViewFirstThenTheNativeOne) {
    const auto read = [] {
        return platform::SettingsStore::fromEnvironment().read("software\\quenrotech\\kestabtest", "TOOLKITDIR");
    };
    deleteTestKey(KEY_WOW64_32KEY);
    deleteTestKey(KEY_WOW64_64KEY);
    EXPECT_EQ(read(), std::nullopt);
    setValue(KEY_WOW64_64KEY, "C:\\native");
    EXPECT_EQ(read(), "C:\\native");
    setValue(KEY_WOW64_32KEY, "C:\\wow");
    EXPECT_EQ(read(), "C:\\wow");
    deleteTestKey(KEY_WOW64_32KEY);
    deleteTestKey(KEY_WOW64_64KEY);
}

TEST(WindowsFiles, ProbeAndImageOpening) {
    TempDir dir;
    writeFile(dir / "image.tmp", "ELF");
    const std::string base = dir.path().string() + "\\";
    EXPECT_TRUE(platform::fileExists(base, "image.tmp"));
    EXPECT_TRUE(platform::fileExists("", dir.path().string()));  // a directory counts
    EXPECT_FALSE(platform::fileExists(base, "missing.c"));
    EXPECT_TRUE(platform::openRegularFile(base + "image.tmp").valid());
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(platform::readWholeFile(platform::openRegularFile(base + "image.tmp").get(), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ELF");
    EXPECT_FALSE(platform::openRegularFile(dir.path().string()).valid());
    EXPECT_FALSE(platform::openRegularFile("NUL").valid());
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(platform::openRegularFile(base + "missing.tmp").valid());
}

// The image's identity through its descriptor and through its name agree
// until the file is written to.
TEST(WindowsFiles, IdentityOfAnOpenFileAndOfItsName) {
    TempDir dir;
    const std::string image = (dir / "image.tmp").string();
    writeFile(image, "ELF");
    const platform::Fd fd = platform::openRegularFile(image);
    const auto opened = platform::fileIdentity(fd.get());
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->size, 3u);
    EXPECT_EQ(platform::fileIdentity(image), opened);
    writeFile(dir / "other.tmp", "ELF");
    EXPECT_NE(platform::fileIdentity((dir / "other.tmp").string()), opened);
    std::FILE* out = std::fopen(image.c_str(), "ab");
    ASSERT_NE(out, nullptr);
    std::fputs("!", out);
    std::fclose(out);
    EXPECT_NE(platform::fileIdentity(image), opened);
    EXPECT_EQ(platform::fileIdentity(fd.get()), platform::fileIdentity(image));
    EXPECT_EQ(platform::fileIdentity((dir / "missing.tmp").string()), std::nullopt);
}

}  // namespace
}  // namespace kestab::test
