// The command line: options, then the local address for the endpoint's
// multicast membership.
#include <arpa/inet.h>
#include <getopt.h>
#include <libgen.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "agent.h"
#include "mirel_util.h"
#include "process.h"

namespace {
const char *base_name(const char *path)
{
    const char *slash = path ? std::strrchr(path, '/') : nullptr;
    return slash ? slash + 1 : (path ? path : "cloudagent");
}

// The 64 hex digits of -k into 32 bytes; the exit status on failure.
int key_parse(const char *text, uint8_t out[32], FILE *err)
{
    if (std::strlen(text) != 64) {
        std::fputs("Too short key.\n", err);
        return 1;
    }
    struct HexString *hs = HexString();
    if (!hs) {
        std::fprintf(err, "HexString: %s\n", zmo_sys_strerror(errno));
        return 1;
    }
    int status = 0;
    uint32_t length = 0;
    void *bytes = nullptr;
    if (HexString_Set(hs, text) != 0) {
        if (errno == EBADE)
            std::fputs("Invalid key.\n", err);
        else
            std::fprintf(err, "HexString_Set: %s\n", zmo_sys_strerror(errno));
        status = 1;
    } else if (!(bytes = HexString_GetBin(hs, &length)) || length != 32) {
        std::fprintf(err, "HexString_GetBin: %s\n", zmo_sys_strerror(errno ? errno : EINVAL));
        status = 1;
    } else {
        std::memcpy(out, bytes, 32);
    }
    Mem_free(bytes);
    HexString_Free(hs);
    return status;
}
}  // namespace

extern "C" {

void usage_print(FILE *stream, const char *program)
{
    const char *name = base_name(program);
    std::fprintf(
        stream,
        "Usage: %s: [OPTION]... <ADDRESS>\n\nOptions:\n\t-c <cid> - set client id (UUID format),\n\t-C "
        "<file> - configuration file,\n\t-f - foreground mode,\n\t-h - display this help and exit,\n\t-k "
        "<data> - key,\n\t-l - log to console,\n\t-n <name> - set name (default is \"%s\"),\n\t-t <type> - "
        "set type (default is \"%s\").\n\nExample:\n\t$ %s -fd -n Orvale 192.168.1.1\n",
        name, AGENT_DEFAULT_NAME, "router", name);
}

int options_parse(int argc, char **argv, struct agent_options *o, FILE *out, FILE *err)
{
    std::memset(o, 0, sizeof *o);
    if (argc < 2) {
        usage_print(out, argv[0]);
        return 0;
    }
    optind = 0;  // start over (tests parse more than one command line)
    opterr = 0;
    int c;
    while ((c = getopt(argc, argv, "c:C:fk:ln:t:h")) != -1) {
        switch (c) {
        case 'c':
            if (cid_parse(optarg) != 0) {
                std::fputs("Invalid CID.\n", err);
                return 1;
            }
            std::memcpy(g_agent.cid, optarg, AGENT_CID_LENGTH + 1);
            o->has_cid = 1;
            break;
        case 'C': {
            char *path = strdup(optarg);
            if (!path) {
                std::fputs("No memory\n", err);
                return 1;
            }
            {
                std::lock_guard<std::mutex> lock(g_agent.lock);
                std::free(g_agent.config_path);
                g_agent.config_path = path;
            }
            if (ConfigurationRead(path) != 0) {
                std::fprintf(err, "ConfigurationRead: %s\n", zmo_sys_strerror(errno));
                return 1;
            }
            break;
        }
        case 'f':
            o->foreground = 1;
            break;
        case 'h':
            usage_print(out, argv[0]);
            return 0;
        case 'k': {
            int status = key_parse(optarg, o->key, err);
            if (status)
                return status;
            o->has_key = 1;
            break;
        }
        case 'l':
            o->console = 1;
            break;
        case 'n':
            std::snprintf(g_agent.name, sizeof g_agent.name, "%s", optarg);
            break;
        case 't': {
            int type = agent_type_parse(optarg);
            if (type < 0) {
                std::fputs("Unknown mode.\n", err);
                return 1;
            }
            g_agent.type = static_cast<uint8_t>(type);
            break;
        }
        default:
            usage_print(err, argv[0]);
            return 1;
        }
    }
    if (argc - optind != 1) {
        usage_print(err, argv[0]);
        return 1;
    }
    in_addr_t a = inet_addr(argv[optind]);
    // inet_addr answers INADDR_NONE for text it can't read (and for the
    // broadcast address, which is no interface either).
    if (a == INADDR_NONE) {
        std::fputs("Invalid address.\n", err);
        return 1;
    }
    o->address = a;
    return -1;
}

}  // extern "C"
