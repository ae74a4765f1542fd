/* The benchmark's stand-in for the toolkit's objdump: notes when it started
 * and when the real objdump it runs ended (CLOCK_MONOTONIC, nanoseconds) in
 * the file $STAMP_FILE, and exits with that objdump's status. Arguments and
 * output go to the real one ($REAL_OBJDUMP, found on PATH) unchanged. */
#define _GNU_SOURCE
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static long long now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char** argv) {
    const long long started = now();
    const char* real = getenv("REAL_OBJDUMP");
    const char* stamps = getenv("STAMP_FILE");
    if (real == NULL || stamps == NULL || argc < 1) return 125;
    argv[0] = (char*)real;
    pid_t child;
    if (posix_spawnp(&child, real, NULL, NULL, argv, environ) != 0) return 126;
    int status = 0;
    if (waitpid(child, &status, 0) < 0) return 126;
    const long long ended = now();
    FILE* out = fopen(stamps, "w");
    if (out == NULL) return 126;
    fprintf(out, "%lld %lld\n", started, ended);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
