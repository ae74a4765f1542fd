// arm-elf-objdump.exe for the Windows tests. Run as kestab runs objdump, it
// writes the listing the real objdump wrote for that image on Linux,
// recorded beside it as <image>.objdump, byte for byte, and exits 0. When
// <image>.append exists, its bytes are first appended to the image, as a
// build that writes the image while the listing is made. Its
// standard output is in binary mode: in text mode every LF would become
// CR LF. The child-process tests ask for other behaviour with a first
// argument:
//   --args          each further argument on a line of its own, in brackets
//   --exit N TEXT   writes TEXT, exits with N
//   --linger        writes "x", closes its output, then runs for a minute
//   --silent        runs for a minute with its output open, writing nothing
//   --spawn FILE    starts itself with --silent on its own output, writes
//                   that grandchild's process id into FILE and exits 0
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Appends the bytes of `from`, when it exists, to `to`.
void appendFile(const std::string& from, const char* to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) return;
    std::FILE* out = std::fopen(to, "ab");
    char buffer[4096];
    std::size_t n = 0;
    while (out != nullptr && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0) std::fwrite(buffer, 1, n, out);
    if (out != nullptr) std::fclose(out);
    std::fclose(in);
}

int replay(const char* image) {
    appendFile(std::string(image) + ".append", image);
    const std::string recorded = std::string(image) + ".objdump";
    std::FILE* in = std::fopen(recorded.c_str(), "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "arm-elf-objdump: '%s': No such file\n", image);
        return 1;
    }
    char buffer[65536];
    std::size_t n = 0;
    int status = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        if (std::fwrite(buffer, 1, n, stdout) != n) status = 1;
    }
    std::fclose(in);
    return std::fflush(stdout) == 0 ? status : 1;
}

// The grandchild shares this process's standard handles, so it holds the
// output pipe open after this process has ended.
int spawnSilent(const char* self, const char* idFile) {
    std::string line = std::string("\"") + self + "\" --silent";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) return 1;
    std::FILE* out = std::fopen(idFile, "w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%lu", info.dwProcessId);
    std::fclose(out);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::_setmode(::_fileno(stdout), _O_BINARY);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--args") {
        for (int i = 2; i < argc; ++i) std::printf("[%s]\n", argv[i]);
        return 0;
    }
    if (mode == "--exit" && argc > 3) {
        std::fputs(argv[3], stdout);
        std::fflush(stdout);
        return std::atoi(argv[2]);
    }
    if (mode == "--linger") {
        std::fputs("x", stdout);
        std::fflush(stdout);
        ::CloseHandle(::GetStdHandle(STD_OUTPUT_HANDLE));
        ::CloseHandle(::GetStdHandle(STD_ERROR_HANDLE));
        ::Sleep(60000);
        return 0;
    }
    if (mode == "--spawn" && argc > 2) return spawnSilent(argv[0], argv[2]);
    if (mode == "--silent") {
        ::Sleep(60000);
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: arm-elf-objdump -M reg-names-raw -d -S <image>\n");
        return 2;
    }
    return replay(argv[argc - 1]);
}
