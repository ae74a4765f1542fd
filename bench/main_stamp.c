/* Loaded into the command timeline runs (LD_PRELOAD, set by timeline for
 * that command only): notes when the command reached the point just before
 * its main (CLOCK_MONOTONIC, nanoseconds) in the file $MAIN_STAMP_FILE, once
 * the dynamic loader has loaded and relocated everything, and then takes
 * itself out of the environment, so that the programs the command starts
 * neither load it nor overwrite the note. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

__attribute__((constructor)) static void stampMain(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    const char* path = getenv("MAIN_STAMP_FILE");
    if (path != NULL) {
        FILE* out = fopen(path, "w");
        if (out != NULL) {
            fprintf(out, "%lld\n", (long long)t.tv_sec * 1000000000LL + t.tv_nsec);
            fclose(out);
        }
    }
    unsetenv("MAIN_STAMP_FILE");
    unsetenv("LD_PRELOAD");
}
