// zmocore_sockets: the management core's sockets for outside programs.
//   zmocore_sockets --routes FILE --log FILE [--user LOGIN:PASSWORD] [--events FIFO]
// Serves SCGI on /var/run/zmo.scgi.socket and the core-client protocol on
// /var/run/zmo.core.socket until killed; prints "ready" once both listen.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "sockets.h"

int main(int argc, char **argv)
{
    CoreSockets::Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i], v = argv[i + 1];
        if (a == "--routes")
            o.routes = v;
        else if (a == "--log")
            o.log = v;
        else if (a == "--events")
            o.events = v;
        else if (a == "--user" && v.find(':') != std::string::npos) {
            o.user = v.substr(0, v.find(':'));
            o.password = v.substr(v.find(':') + 1);
        } else {
            std::fprintf(stderr,
                         "usage: zmocore_sockets --routes FILE --log FILE [--user L:P] [--events FIFO]\n");
            return 2;
        }
    }
    if (o.routes.empty() || o.log.empty() || !CoreSockets::ScgiServe(o) || !CoreSockets::ClientServe(o)) {
        std::perror("zmocore_sockets");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
