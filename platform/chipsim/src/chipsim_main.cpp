// The chip simulator on the far end of a link: every frame on the
// interface goes to the chip model, its answers go back out, late ones when
// their time comes.
//   usage: chipsim --iface IF [--running] [--mac MAC] [--boot-mac MAC] [--setup FILE] [--trace]
// --trace prints every frame the chip takes in, as hex, on standard output.
// --setup runs the bench commands of FILE (one a line, # comments) before
// the first frame: words, the firmware's own entries, counters.
#include "chipsim/chip.hpp"

#include "bench_frame.hpp"
#include "vdsl_ebm.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <map>
#include <net/if.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stop = 0;
void on_signal(int) { stop = 1; }

bool parse_mac(const char *text, chipsim::Mac &out)
{
    unsigned v[6];
    char tail;
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; i++) {
        if (v[i] > 0xFF)
            return false;
        out[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

int usage(const char *prog)
{
    std::fprintf(stderr,
                 "usage: %s --iface IF [--running] [--mac MAC] [--boot-mac MAC] [--setup FILE] [--trace]\n",
                 prog);
    return 2;
}

bool run_setup(chipsim::Chip &chip, const std::string &path)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "chipsim: cannot read %s\n", path.c_str());
        return false;
    }
    std::string line;
    for (int n = 1; std::getline(in, line); n++) {
        if (line.empty() || line[0] == '#')
            continue;
        std::string answer = chip.control(line);
        if (answer.compare(0, 2, "ok") != 0) {
            std::fprintf(stderr, "chipsim: %s:%d: %s\n", path.c_str(), n, answer.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    chipsim::Chip::Config cfg{chipsim::Mac EBM_CHIP_MGMT_MAC, chipsim::Mac EBM_CHIP_DEFAULT_BOOT_MAC, false};
    std::string iface, setup;
    bool trace = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--iface" && i + 1 < argc)
            iface = argv[++i];
        else if (a == "--trace")
            trace = true;
        else if (a == "--setup" && i + 1 < argc)
            setup = argv[++i];
        else if (a == "--running")
            cfg.running = true;
        else if (a == "--mac" && i + 1 < argc && parse_mac(argv[i + 1], cfg.mgmt_mac))
            i++;
        else if (a == "--boot-mac" && i + 1 < argc && parse_mac(argv[i + 1], cfg.default_boot_mac))
            i++;
        else
            return usage(argv[0]);
    }
    if (iface.empty())
        return usage(argv[0]);

    unsigned idx = if_nametoindex(iface.c_str());
    if (!idx) {
        std::fprintf(stderr, "chipsim: no interface %s\n", iface.c_str());
        return 1;
    }
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0) {
        std::perror("chipsim: socket");
        return 1;
    }
    sockaddr_ll ll{};
    ll.sll_family = AF_PACKET;
    ll.sll_protocol = htons(ETH_P_ALL);
    ll.sll_ifindex = static_cast<int>(idx);
    if (bind(fd, reinterpret_cast<sockaddr *>(&ll), sizeof ll) != 0) {
        std::perror("chipsim: bind");
        return 1;
    }
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", iface.c_str());
    uint8_t own[6] = {};
    if (ioctl(fd, SIOCGIFHWADDR, &ifr) == 0)
        std::memcpy(own, ifr.ifr_hwaddr.sa_data, 6);

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    chipsim::Chip chip(cfg);
    if (!setup.empty() && !run_setup(chip, setup))
        return 1;
    using Clock = std::chrono::steady_clock;
    std::multimap<Clock::time_point, std::vector<uint8_t>> pending;
    auto send_frame = [&](const std::vector<uint8_t> &f) {
        sockaddr_ll to = ll;
        to.sll_halen = 6;
        std::memcpy(to.sll_addr, f.data(), 6);
        if (sendto(fd, f.data(), f.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0)
            std::perror("chipsim: sendto");
    };
    std::fprintf(stderr, "chipsim: ready on %s (%s)\n", iface.c_str(),
                 cfg.running ? "running" : "boot loader");

    while (!stop) {
        int timeout = -1;
        if (!pending.empty()) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(pending.begin()->first - Clock::now());
            timeout = left.count() < 0 ? 0 : static_cast<int>(left.count()) + 1;
        }
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, timeout);
        if (r < 0 && errno != EINTR)
            break;
        while (!pending.empty() && pending.begin()->first <= Clock::now()) {
            send_frame(pending.begin()->second);
            pending.erase(pending.begin());
        }
        if (r <= 0 || !(p.revents & POLLIN))
            continue;
        uint8_t buf[2048];
        sockaddr_ll from{};
        socklen_t fl = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &fl);
        if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        uint32_t id = 0;
        std::string text;
        if (chipsim::bench_parse(buf, static_cast<size_t>(n), id, text)) {
            std::string answer = "re " + chip.control(text);
            send_frame(chipsim::bench_frame(buf + 6, own, id, answer));
            continue;
        }
        if (trace) {
            std::string hex;
            char two[3];
            for (ssize_t i = 0; i < n; i++) {
                std::snprintf(two, sizeof two, "%02x", buf[i]);
                hex += two;
            }
            std::printf("rx %s\n", hex.c_str());
            std::fflush(stdout);
        }
        for (auto &out : chip.on_frame(buf, static_cast<size_t>(n))) {
            if (out.delay_ms == 0)
                send_frame(out.frame);
            else
                pending.emplace(Clock::now() + std::chrono::milliseconds(out.delay_ms), std::move(out.frame));
        }
    }
    close(fd);
    return 0;
}
