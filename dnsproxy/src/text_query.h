// The text query port: "resolv-conf", "resolv-via" and "poll" from local
// programs, answered with lines of addresses and texts.
#pragma once

#include <zmo.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace dnsr {

struct Server;
struct Request;

struct TextEntry {
    int mode;  // 0 resolv-conf, 1 resolv-via
    uint16_t type;
    zmo_ip_sockaddr_t client;
    zmo_time_t deadline;
    bool answered;
    bool poll_told;
    uint8_t *answer;  // stored for the next poll, or null
    uint16_t answer_len;
};

void text_read(Server &s, int slot);
void text_answer(Server &s, Request &r, const uint8_t *msg, size_t len);
void text_sweep(Server &s);
// The lines of an answer, as the port sends them.
std::string text_format(const uint8_t *msg, size_t len);

}  // namespace dnsr
