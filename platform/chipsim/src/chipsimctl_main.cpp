// Sends one bench command to the simulator and prints its answer.
//   usage: chipsimctl IF COMMAND...
#include "chipsim_bench.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IF COMMAND...\n", argv[0]);
        return 2;
    }
    std::string cmd;
    for (int i = 2; i < argc; i++) {
        if (i > 2)
            cmd += ' ';
        cmd += argv[i];
    }
    char reply[256];
    int rc = chipsim_bench_command(argv[1], cmd.c_str(), reply, sizeof reply, 2000);
    if (rc < 0) {
        std::fprintf(stderr, "chipsimctl: no answer on %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", reply);
    return rc;
}
