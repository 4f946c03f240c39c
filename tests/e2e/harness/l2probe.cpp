// Sends or receives one raw Ethernet frame with the base library's layer-2
// sockets, to show frames cross a veth pair intact.
//   l2probe send IFNAME DSTMAC ETHERTYPE HEXPAYLOAD   prints the frame sent
//   l2probe recv IFNAME ETHERTYPE TIMEOUT_MS          prints "ready", then the frame
#include <net/if.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fw_test/bytes.h"
#include "zmo.h"

namespace {
bool unhex(const char *text, std::vector<uint8_t> *out)
{
    size_t n = std::strlen(text);
    if (n % 2)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        char byte[3] = {text[i], text[i + 1], 0};
        char *end;
        unsigned long v = std::strtoul(byte, &end, 16);
        if (*end)
            return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

int usage()
{
    std::fprintf(stderr, "usage: l2probe send IFNAME DSTMAC ETHERTYPE HEXPAYLOAD\n"
                         "       l2probe recv IFNAME ETHERTYPE TIMEOUT_MS\n");
    return 2;
}

bool open_on(const char *ifname, const char *ethertype_text, int *s, int *ifindex, zmo_mac_addr_t *own)
{
    unsigned long ethertype;
    *ifindex = static_cast<int>(if_nametoindex(ifname));
    if (!*ifindex || !zmo_int_parse_ulong(ethertype_text, &ethertype) || ethertype > 0xffff) {
        std::fprintf(stderr, "l2probe: bad interface or ethertype\n");
        return false;
    }
    if (!zmo_mac_socket_open(s, static_cast<uint16_t>(ethertype), ifindex, own)) {
        std::fprintf(stderr, "l2probe: can't open a layer-2 socket on %s: %s\n", ifname,
                     zmo_sys_strerror(errno));
        return false;
    }
    return true;
}
}  // namespace

int main(int argc, char **argv)
{
    if (!zmo_sys_init() || !zmo_sys_set_default_signals())
        return 1;
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 6 && std::strcmp(argv[1], "send") == 0) {
        int s, ifindex;
        zmo_mac_addr_t own, dst;
        std::vector<uint8_t> payload;
        if (!zmo_mac_addr_parse(&dst, argv[3]) || !unhex(argv[5], &payload))
            return usage();
        if (!open_on(argv[2], argv[4], &s, &ifindex, &own))
            return 1;
        unsigned long ethertype = std::strtoul(argv[4], nullptr, 10);
        std::vector<uint8_t> frame(dst.bytes, dst.bytes + 6);
        frame.insert(frame.end(), own.bytes, own.bytes + 6);
        frame.push_back(static_cast<uint8_t>(ethertype >> 8));
        frame.push_back(static_cast<uint8_t>(ethertype));
        frame.insert(frame.end(), payload.begin(), payload.end());
        ssize_t n = zmo_mac_socket_send(s, frame.data(), frame.size(), 0, ifindex, &dst);
        zmo_mac_socket_close(&s);
        if (n != static_cast<ssize_t>(frame.size())) {
            std::fprintf(stderr, "l2probe: send: %s\n", zmo_sys_strerror(errno));
            return 1;
        }
        std::printf("%s\n", fw_test::to_hex(frame.data(), frame.size()).c_str());
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "recv") == 0) {
        int s, ifindex, timeout;
        zmo_mac_addr_t own;
        if (!zmo_int_parse_int(argv[4], &timeout))
            return usage();
        if (!open_on(argv[2], argv[3], &s, &ifindex, &own))
            return 1;
        std::printf("ready\n");
        struct pollfd p = {s, POLLIN, 0};
        int r = zmo_poll(&p, 1, timeout);
        if (r != 1) {
            std::fprintf(stderr, "l2probe: no frame within %d ms\n", timeout);
            return 1;
        }
        std::vector<uint8_t> buf(2048);
        zmo_mac_recv_info_t info;
        ssize_t n = zmo_mac_socket_recv(s, buf.data(), buf.size(), 0, &info);
        zmo_mac_socket_close(&s);
        if (n < 1) {
            std::fprintf(stderr, "l2probe: recv: %s\n", zmo_sys_strerror(errno));
            return 1;
        }
        std::printf("%s\n", fw_test::to_hex(buf.data(), static_cast<size_t>(n)).c_str());
        return info.ifindex == ifindex ? 0 : 1;
    }
    return usage();
}
