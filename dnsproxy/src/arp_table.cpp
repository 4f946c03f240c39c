// The ARP table from /proc/net/arp and the profile of a client.
#include "arp_table.h"
#include "query_road.h"
#include "server.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace dnsr {

namespace {

// Re-read at the top of a round at most this often; a client not in the
// table always gets a fresh read: a new host's first query must not miss its
// profile (safe access would fall back to direct).
constexpr int64_t kArpRoundReadMs = 1000;

bool arp_due(Road &road, int64_t every_ms)
{
    if (!road.arp_read_once)
        return true;
    zmo_time_t since;
    zmo_time_get_monotonic(&since);
    zmo_time_sub(&since, &road.arp_read_at);
    return zmo_time_to_msec(&since) >= every_ms;
}

// One line: the IP address from the first column, the MAC from the fourth.
void arp_line(Road &road, const std::string &line)
{
    std::string cols[4];
    size_t n = 0, i = 0;
    while (n < 4 && i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            i++;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            i++;
        if (i > start)
            cols[n++] = line.substr(start, std::min<size_t>(i - start, 127));
    }
    if (n < 4)
        return;
    zmo_ip_sockaddr_t ip = *ZMO_IP_SOCKADDR_ANY;
    zmo_mac_addr_t mac;
    if (!zmo_ip_sockaddr_pton(cols[0].c_str(), &ip) || !zmo_mac_addr_parse(&mac, cols[3].c_str()))
        return;
    MacValue v;
    memcpy(v.bytes, mac.bytes, 6);
    road.arp.insert(ip.u.storage, v);
}

}  // namespace

bool arp_read(Road &road, const char *path)
{
    zmo_time_get_monotonic(&road.arp_read_at);
    road.arp_read_once = true;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        zmo_log(ZMO_LOG_ERROR, "unable to read arp table");
        return false;
    }
    std::string line;
    bool first = true;
    char block[8192];
    ssize_t n;
    while ((n = read(fd, block, sizeof block)) > 0) {
        for (ssize_t i = 0; i < n; i++) {
            if (block[i] != '\n') {
                if (line.size() < 1024)
                    line += block[i];
                continue;
            }
            if (!first)
                arp_line(road, line);
            first = false;
            line.clear();
        }
    }
    if (!first && !line.empty())
        arp_line(road, line);
    close(fd);
    return true;
}

void road_before_poll(Server &s)
{
    if (s.cfg->profile_max > 0 && arp_due(s.road, kArpRoundReadMs))
        arp_read(s.road);
}

int road_profile_of(Server &s, const zmo_ip_sockaddr_t &client)
{
    Config &cfg = *s.cfg;
    zmo_ip_sockaddr_t ip = client;
    zmo_ip_sockaddr_set_port(&ip, 0);
    MacValue *mac = s.road.arp.find(ip.u.storage);
    if (!mac && ip.u.sa.sa_family == AF_INET) {
        arp_read(s.road);
        mac = s.road.arp.find(ip.u.storage);
    }
    if (mac) {
        MacKey key;
        memcpy(key.bytes, mac->bytes, 6);
        if (int *n = cfg.groups.find(key))
            return *n;
    }
    if (int *n = cfg.groups_ip.find(ip.u.storage))
        return *n;
    if (cfg.mac_default >= 0 && cfg.mac_default <= cfg.profile_max)
        return cfg.mac_default;
    return 0;
}

}  // namespace dnsr
