// The bench side of the wiring: commands to the simulator over the link.
#include "chipsim_bench.h"

#include "bench_frame.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>
#include <chrono>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int chipsim_bench_command(const char *ifname, const char *command, char *reply, size_t cap,
                                     int timeout_ms)
{
    if (reply && cap)
        reply[0] = 0;
    unsigned idx = if_nametoindex(ifname);
    if (!idx)
        return -1;
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(CHIPSIM_BENCH_ETHERTYPE));
    if (fd < 0)
        return -1;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};

    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_protocol = htons(CHIPSIM_BENCH_ETHERTYPE);
    ll.sll_ifindex = static_cast<int>(idx);
    if (bind(fd, reinterpret_cast<sockaddr *>(&ll), sizeof ll) != 0)
        return -1;
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", ifname);
    if (ioctl(fd, SIOCGIFHWADDR, &ifr) != 0)
        return -1;
    uint8_t src[6], dst[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::memcpy(src, ifr.ifr_hwaddr.sa_data, 6);
    uint32_t id = std::random_device{}();
    auto frame = chipsim::bench_frame(dst, src, id, command);
    ll.sll_halen = 6;
    std::memcpy(ll.sll_addr, dst, 6);
    if (sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&ll), sizeof ll) < 0)
        return -1;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return -1;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return -1;
        uint8_t buf[1600];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        uint32_t rid = 0;
        std::string text;
        if (n <= 0 || !chipsim::bench_parse(buf, static_cast<size_t>(n), rid, text) || rid != id ||
            text.rfind("re ", 0) != 0)
            continue;
        text.erase(0, 3);
        if (reply && cap) {
            size_t c = std::min(cap - 1, text.size());
            std::memcpy(reply, text.data(), c);
            reply[c] = 0;
        }
        return text.rfind("ok", 0) == 0 ? 0 : 1;
    }
}

extern "C" int chipsim_reset_line(const char *ifname, int high)
{
    return chipsim_bench_command(ifname, high ? "reset high" : "reset low", nullptr, 0, 1000) == 0 ? 0 : -1;
}

extern "C" int chipsim_service_record(const char *ifname, unsigned char *record, size_t size)
{
    // "ok " and two hex digits a byte.
    std::vector<char> reply(3 + 2 * size + 2);
    if (chipsim_bench_command(ifname, "service", reply.data(), reply.size(), 1000) != 0)
        return -1;
    const char *hex = reply.data() + 3;
    if (std::strlen(hex) != 2 * size)
        return -1;
    for (size_t i = 0; i < size; i++) {
        unsigned byte = 0;
        if (std::sscanf(hex + 2 * i, "%2x", &byte) != 1)
            return -1;
        record[i] = static_cast<unsigned char>(byte);
    }
    return 0;
}
