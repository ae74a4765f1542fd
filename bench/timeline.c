/* Runs one command and prints, in microseconds, how long after its start
 * the objdump stand-in (stamp_objdump, told the file through $STAMP_FILE)
 * started, how long after that objdump ended the command itself ended, and
 * how long after its start the command reached its main: "<to objdump
 * start> <after objdump end> <to main>". The last is noted by main_stamp.so,
 * loaded into the command alone when $TIMELINE_MAIN_STAMP names it; it is 0
 * without. Output of the command is dropped.
 * Usage: timeline STAMP_FILE command [args...] */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    unlink(argv[1]);
    setenv("STAMP_FILE", argv[1], 1);
    char mainStamps[4096];
    snprintf(mainStamps, sizeof mainStamps, "%s.main", argv[1]);
    unlink(mainStamps);
    const char* preload = getenv("TIMELINE_MAIN_STAMP");
    if (preload != NULL) {
        setenv("LD_PRELOAD", preload, 1);
        setenv("MAIN_STAMP_FILE", mainStamps, 1);
    }
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t child;
    const long long started = now();
    if (posix_spawnp(&child, argv[2], &quiet, NULL, argv + 2, environ) != 0) return 1;
    int status = 0;
    waitpid(child, &status, 0);
    const long long ended = now();
    long long objdumpStart = 0, objdumpEnd = 0;
    FILE* in = fopen(argv[1], "r");
    if (in == NULL || fscanf(in, "%lld %lld", &objdumpStart, &objdumpEnd) != 2) return 1;
    fclose(in);
    long long mainStart = started;
    in = fopen(mainStamps, "r");
    if (in != NULL) {
        if (fscanf(in, "%lld", &mainStart) != 1) mainStart = started;
        fclose(in);
    }
    printf("%lld %lld %lld\n", (objdumpStart - started) / 1000, (ended - objdumpEnd) / 1000,
           (mainStart - started) / 1000);
    return 0;
}
