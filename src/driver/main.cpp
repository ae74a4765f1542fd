// ELF Map file generator: the process entry.
#include "driver/run.h"

int main(int argc, char** argv) { return kestab::kestabMain(argc, argv); }
