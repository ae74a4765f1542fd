// ELF Map file generator: the process entry.
#include "driver/run.h"
#include "platform/process_setup.h"

int main(int argc, char** argv) {
    kestab::platform::prepareProcess();
    return kestab::kestabMain(argc, argv);
}
