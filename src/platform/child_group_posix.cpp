#include "platform/child_group_posix.h"

#include <signal.h>

#include <atomic>
#include <mutex>

namespace kestab::platform {

namespace {

constexpr int kForwardedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The process group of the running child, for the signal handler; while a
// child is being started its group is not known yet, and a signal that
// comes then is left for the starting thread to act on.
std::atomic<pid_t> runningGroup{0};
std::atomic<bool> starting{false};
std::atomic<int> pendingSignal{0};

extern "C" void killGroupAndDie(int sig) {
    pendingSignal.store(sig);
    if (starting.load()) return;
    const pid_t group = runningGroup.load();
    if (group > 0) ::kill(-group, SIGKILL);
    // The handler was reset to the default on entry (SA_RESETHAND) and the
    // signal is not blocked (SA_NODEFER): this ends the process.
    ::raise(sig);
}

}  // namespace

void installGroupKiller() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int sig : kForwardedSignals) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = killGroupAndDie;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND | SA_NODEFER;
            ::sigaction(sig, &action, nullptr);
        }
    });
}

Starting::Starting() { starting.store(true); }

Starting::~Starting() {
    starting.store(false);
    if (const int sig = pendingSignal.exchange(0)) ::raise(sig);
}

void Starting::started(pid_t group) {
    runningGroup.store(group);
    starting.store(false);
    if (const int sig = pendingSignal.exchange(0)) {
        ::kill(-group, SIGKILL);
        ::raise(sig);
    }
}

void groupReaped() { runningGroup.store(0); }

}  // namespace kestab::platform
