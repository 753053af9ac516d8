#include "entry/entry.h"
#include "util/platform.h"

// One request per process; every path exits with status 0.
int main(int argc, char **argv) {
    plat_stdout_init();
    run_program(argc, argv);
    return 0;
}
