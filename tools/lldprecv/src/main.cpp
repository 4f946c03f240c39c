// lldprecv: reports every LLDP neighbour to the management core.
#include "privileges.h"
#include "startup.h"
#include "receive.h"

#include "zmo.h"

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const char *ident = zmo_log_get_ident(argv);
    if (!zmo_log_init(ident, nullptr, 0, 1)) {
        std::fprintf(stderr, "%s: failed to initialize a log\n", ident);
        return 1;
    }
    std::string user = "nobody";
    bool debug = false;
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, "u:d")) != -1) {
        switch (c) {
        case 'u':
            user = optarg;
            break;
        case 'd':
            debug = true;
            break;
        default:
            zmo_log(ZMO_LOG_ERROR, "unknown option \"%c\"", optopt);
            return 1;
        }
    }
    if (debug)
        zmo_log(ZMO_LOG_INFO, "debug is enabled");
    if (!tools::start_base())
        return 1;
    int s = lldp::open_recv_socket();
    if (s < 0)
        return 1;
    if (!tools::drop_privileges(user.c_str())) {
        close(s);
        return 1;
    }
    lldp::lldp_receive_loop(s, debug);
    close(s);
    return 0;
}
