#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace kestab::test {

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_, old_->c_str(), 1);
    else
        ::unsetenv(name_);
}

ProcessResult runProcess(const std::vector<std::string>& argv, const fs::path& cwd,
                         const std::map<std::string, std::string>& env) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : env) {
        if (value.empty())
            merged.erase(key);
        else
            merged[key] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [key, value] : merged) envStrings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& s : args) argp.push_back(s.data());
    argp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        const int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    ProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[8192];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

ProcessResult runKestab(const std::vector<std::string>& args, const fs::path& cwd,
                        const std::map<std::string, std::string>& env) {
    std::vector<std::string> argv{kestabBinary().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, cwd, env);
}

fs::path kestabBinary() { return fs::path(KESTAB_BINARY); }

fs::path makeToolkit(const fs::path& dir, const fs::path& objdump) {
    fs::create_directories(dir / "bin");
    fs::create_symlink(objdump, dir / "bin" / "arm-elf-objdump");
    return dir;
}

std::map<std::string, std::string> scriptedToolkitEnv(const fs::path& root, const char* objdumpScript) {
    const fs::path objdump = root / "toolkit" / "bin" / "arm-elf-objdump";
    fs::create_directories(objdump.parent_path());
    if (objdumpScript != nullptr) {
        writeFile(objdump, objdumpScript);
        fs::permissions(objdump, fs::perms::owner_all);
    }
    return isolatedEnv(writeToolkitRegistry(root / "kestab.reg", (root / "toolkit").string()), root / "wine");
}

fs::path writeToolkitRegistry(const fs::path& file, const std::string& toolkitDir,
                              const std::string& libToolkitDir) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7 LPC2000]\r\n";
    text += "\"toolkitdir\"=\"" + regEscape(toolkitDir) + "\"\r\n\r\n";
    if (!libToolkitDir.empty()) {
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quenrotech\\Lumora\\Defaults\\Toolkits\\GNUARM7]\r\n";
        text += "\"toolkitDir\"=\"" + regEscape(libToolkitDir) + "\"\r\n";
    }
    writeFile(file, text);
    return file;
}

std::map<std::string, std::string> isolatedEnv(const fs::path& registry, const fs::path& winePrefix) {
    return {{"KESTAB_REGISTRY", registry.string()},
            {"WINEPREFIX", winePrefix.string()},
            {"HOME", winePrefix.string()}};
}

}  // namespace kestab::test
