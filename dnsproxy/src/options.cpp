// Command line, environment and the random seed.
#include "server.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace dnsr {

void print_usage(FILE *to)
{
    fprintf(
        to,
        "%s %s\nUsage: %s -c main_config -s safe_config [-d]\n\t -c main_config     - main configuration file,\n"
        "\t -s safe_config     - safety configuration file,\n\t -d                 - debug mode (optional).\n",
        kProgram, kVersion, kProgram);
}

bool parse_options(int argc, char **argv, Options &out)
{
    opterr = 0;  // other options are ignored
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, "c:s:p:d")) != -1) {
        switch (c) {
        case 'c':
            out.main_file = optarg;
            break;
        case 's':
            out.safe_file = optarg;
            break;
        case 'p':
            out.pid_file = optarg;
            break;
        case 'd':
            out.debug = true;
            break;
        default:
            break;
        }
    }
    const char *verbose = getenv("DNSRELAYD_DEBUG_VERBOSE");
    out.verbosity = verbose && (verbose[0] == '1' || verbose[0] == '2') ? verbose[0] - '0' : 0;
    // Test switch: every IPv4 upstream query from this one port, so that a
    // scenario can show what the random ports protect against.
    if (const char *pin = getenv("DNSRELAYD_TEST_UPSTREAM_PORT")) {
        char *end = nullptr;
        unsigned long port = strtoul(pin, &end, 10);
        if (end != pin && *end == '\0' && port > 0 && port < 65536)
            out.pinned_upstream_port = uint16_t(port);
    }
    if (!out.main_file) {
        print_usage(stderr);
        return false;
    }
    return true;
}

bool seed_random(Mt19937 &rng)
{
    uint32_t key[16];
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        zmo_log(ZMO_LOG_ERROR, "Unable to open /dev/urandom: %s", zmo_sys_strerror(errno));
        return false;
    }
    size_t done = 0;
    while (done < sizeof key) {
        ssize_t n = read(fd, reinterpret_cast<char *>(key) + done, sizeof key - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            zmo_log(ZMO_LOG_ERROR, "Unable to read /dev/urandom: %s", zmo_sys_strerror(n < 0 ? errno : EIO));
            close(fd);
            return false;
        }
        done += size_t(n);
    }
    close(fd);
    rng.seed_by_array(key, 16);
    return true;
}

}  // namespace dnsr
