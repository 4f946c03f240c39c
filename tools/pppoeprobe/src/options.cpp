#include "options.h"

#include "zmo.h"

#include <unistd.h>

namespace pppoe {

int parse_options(int argc, char *const argv[], const char *ident, Settings *settings, FILE *out, FILE *err)
{
    if (argc <= 1) {
        std::fprintf(out,
                     "Usage: %s\n"
                     "\t[-w wait-time]   wait time for offer packets (in seconds),\n"
                     "\t[-r retry-count] a request count until wait-time exceeds,\n"
                     "\t[-I iface-name]  an Ethernet interface name to use,\n"
                     "\t[-f script]      feedback script\n",
                     ident);
        return 1;
    }
    opterr = 0;
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, ":w:r:I:f:")) != -1) {
        switch (c) {
        case 'w':
            if (!zmo_int_parse_ulong(optarg, &settings->wait_s)) {
                std::fprintf(err, "Invalid wait time value: \"%s\".\n", optarg);
                return 1;
            }
            break;
        case 'r':
            if (!zmo_int_parse_ulong(optarg, &settings->requests)) {
                std::fprintf(err, "Invalid request count value: \"%s\".\n", optarg);
                return 1;
            }
            break;
        case 'I':
            settings->ifname = optarg;
            break;
        case 'f':
            settings->script = optarg;
            break;
        case ':':
            switch (optopt) {
            case 'w':
                std::fputs("A wait time value required for a '-w' option.\n", err);
                break;
            case 'r':
                std::fputs("A request count value required for a '-r' option.\n", err);
                break;
            case 'I':
                std::fputs("An interface name required for a '-I' option.\n", err);
                break;
            default:
                std::fputs("A script name required for a '-f' option.\n", err);
                break;
            }
            return 1;
        default:
            std::fprintf(err, "Unknown option '%c'.\n", optopt);
            return 1;
        }
    }
    if (argc - optind > 1) {
        std::fputs("Too many arguments.\n", err);
        return 1;
    }
    if (settings->wait_s < kMinWait || settings->wait_s > kMaxWait) {
        std::fprintf(err, "A wait time value should be between %lu and %lu sec.\n", kMinWait, kMaxWait);
        return 1;
    }
    // No requests would leave no period to compute.
    if (settings->requests == 0) {
        std::fputs("A request count value should be at least 1.\n", err);
        return 1;
    }
    if (settings->wait_s < settings->requests) {
        std::fprintf(err, "A request period is too short (%lu ms. < 1 sec.).\n", settings->period_ms());
        return 1;
    }
    return -1;
}

}  // namespace pppoe
