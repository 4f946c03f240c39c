// UDP: queries on the listeners, answers on the upstream sockets, replies
// sent from the address the client asked.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dnsr {

struct Server;
struct Request;

// Options the listeners need before the first read (destination addresses).
void road_prepare_listener(int fd, int family);
void udp_read_listener(Server &s, int slot);
// The pool of upstream sockets of a family, polled through its fixed slot.
bool upstream_open(Server &s, int family);
void udp_read_upstream(Server &s, int slot);
bool udp_reply(Server &s, const Request &r, const uint8_t *msg, size_t len);

}  // namespace dnsr
