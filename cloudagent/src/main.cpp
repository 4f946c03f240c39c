// cloudagent: links the router to the cloud over Mirel.
#include <unistd.h>

#include <cstdio>

#include "process.h"

int main(int argc, char **argv)
{
    int status = agent_main(argc, argv);
    // The worker and the endpoint's threads are not joined: leave without
    // tearing down what they may still be using.
    std::fflush(nullptr);
    _exit(status);
}
