// Inside the boot: the link the frames travel on, so that the exchange can
// run against a chip model as well as a packet socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace boot {

constexpr int kWaitFailed = -2;
constexpr int kReceiveFailed = -1;

class Link {
public:
    virtual ~Link() = default;
    // false with errno set when the frame could not be sent.
    virtual bool send(const unsigned char *frame, size_t length) = 0;
    // Bytes of one frame (at most capacity), 0 after timeout_ms without one,
    // kReceiveFailed or kWaitFailed with errno set.
    virtual int receive(unsigned char *buffer, size_t capacity, int timeout_ms) = 0;
};

// A packet socket of protocol bound to ifname, own_mac (when given) filled
// from the interface; -1 after the boot's messages.
int open_socket(const char *ifname, uint16_t protocol, unsigned char own_mac[6]);
int wait_reply(Link &link, int kind, const unsigned char *mac, unsigned char seq);
int run(Link &link, int port, const unsigned char own_mac[6], const char *mac_text, FILE *image, long start,
        long length);

}  // namespace boot
