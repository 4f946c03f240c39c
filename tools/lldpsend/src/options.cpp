#include "options.h"

#include <arpa/inet.h>
#include <cstring>
#include <unistd.h>

namespace lldp {

bool parse_send_options(int argc, char *const argv[], SendSettings *s)
{
    Announcement &a = s->announce;
    opterr = 0;
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, "u:S:m:M:I:p:x:n:D:A:P:bwV:dc:C:")) != -1) {
        switch (c) {
        case 'u':
            s->user = optarg;
            break;
        case 'S':
            a.private_scope = std::strcmp(optarg, "private") == 0;
            break;
        case 'm':
            a.mode = optarg;
            break;
        case 'M':
            if (!zmo_mac_addr_parse(&a.chassis, optarg)) {
                zmo_log(ZMO_LOG_ERROR, "invalid mac value: \"%s\"", optarg);
                return false;
            }
            break;
        case 'I':
            a.port_id = optarg;
            break;
        case 'p':
            a.port_description = optarg;
            break;
        case 'x':
            if (!zmo_int_parse_int(optarg, &a.ifindex)) {
                zmo_log(ZMO_LOG_ERROR, "invalid interface_idx value: \"%s\"", optarg);
                return false;
            }
            break;
        case 'n':
            a.system_name = optarg;
            break;
        case 'D':
            a.system_description = optarg;
            break;
        case 'A': {
            zmo_ip_sockaddr_t sa = *ZMO_IP_SOCKADDR_ANY;
            if (!zmo_ip_sockaddr_pton(optarg, &sa)) {
                zmo_log(ZMO_LOG_ERROR, "invalid IPv4 address value: \"%s\"", optarg);
                return false;
            }
            std::memcpy(a.address, &sa.u.in.sin_addr, 4);
            a.has_address = true;
            break;
        }
        case 'P': {
            unsigned short port;
            if (!zmo_int_parse_ushort(optarg, &port)) {
                zmo_log(ZMO_LOG_ERROR, "invalid port value: \"%s\"", optarg);
                return false;
            }
            a.http_port = port;
            break;
        }
        case 'b':
            a.bridge = true;
            break;
        case 'w':
            a.wlan_ap = true;
            break;
        case 'V':
            a.firmware = optarg;
            break;
        case 'd':
            s->debug = true;
            break;
        case 'c':
            a.client_id = optarg;
            break;
        case 'C':
            a.controller_client_id = optarg;
            break;
        default:
            zmo_log(ZMO_LOG_ERROR, "unknown option \"%c\"", optopt);
            return false;
        }
    }
    return true;
}

}  // namespace lldp
