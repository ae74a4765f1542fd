// Starting a child process with its standard descriptors given.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestab::platform {

// Starts `program` with `args` as the leader of a new process group, with
// `stdinFd` as its standard input and `outFd` as its standard output and
// error, and no other descriptor of this process; it starts with no signal
// blocked and with the default action for the signals this process catches
// or may have chosen to ignore. 0 with `pid` set on success, else the error
// number (of the fork, or of what failed in the child before the program
// ran; the child is then reaped).
int spawnChild(const std::string& program, const std::vector<std::string>& args, int stdinFd, int outFd, pid_t& pid);

}  // namespace kestab::platform
