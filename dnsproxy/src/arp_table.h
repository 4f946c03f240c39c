// The ARP table from /proc/net/arp and the profile of a client.
#pragma once

#include <zmo.h>

#include <cstdint>

namespace dnsr {

struct Server;
struct Road;

struct MacValue {
    uint8_t bytes[6];
};

// Reads "/proc/net/arp" (or the file named) into the ARP table.
bool arp_read(Road &road, const char *path = "/proc/net/arp");
// Top of a round: the ARP table read again when profiles are defined.
void road_before_poll(Server &s);
// Profile of a client: by MAC (ARP), by IP address, the default, or 0.
int road_profile_of(Server &s, const zmo_ip_sockaddr_t &client);

}  // namespace dnsr
