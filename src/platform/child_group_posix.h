// The signals that end this process while a child runs (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT) kill the child's process group first, so that nothing
// the child started outlives this process.
#pragma once

#include <sys/types.h>

namespace kestab::platform {

// Installs the handler once, for each of those signals this process does
// not ignore.
void installGroupKiller();

// Marks the start of a child for its life; the child's group is made known
// with started(), and a signal that came in between is acted on there.
class Starting {
public:
    Starting();
    // A child that could not be started leaves no group to kill.
    ~Starting();
    Starting(const Starting&) = delete;
    Starting& operator=(const Starting&) = delete;

    void started(pid_t group);
};

// The running child has been reaped: its group is no longer one to kill.
void groupReaped();

}  // namespace kestab::platform
