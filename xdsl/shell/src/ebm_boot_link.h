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

// The interfaces and boot MAC address of one boot.
struct Choice {
    char boot_if[16];
    char mac[18];
    // The configured boot MAC text, or none for the default.
    const char *boot_mac() const { return mac[0] ? mac : nullptr; }
};

// The typed port checked and its interfaces chosen (the management
// interface handed to the driver): 0, or 100 after the messages.
int choose_for_port(int number, int *port, Choice &choice);

}  // namespace boot
