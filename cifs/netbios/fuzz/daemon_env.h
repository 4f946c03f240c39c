// Shared by the daemon's fuzz targets: the tables on one adapter whose
// sockets are -1 (nothing leaves the process), and the message handed to a
// handler in a heap block of exactly its size, so a read past the end is a
// sanitizer report.
#pragma once
#include "../src/nd_internal.h"

#include <arpa/inet.h>
#include <cstring>
#include <vector>

namespace ndfuzz {

inline NDAdapter *setUp()
{
    static NDAdapter *adapter = [] {
        ndNameInit();
        ndDatagramInit();
        ndAdapterListInit();
        ndAdapterListLoadFrom(
            {{inet_addr("127.1.0.1"), inet_addr("127.1.0.255"), inet_addr("255.255.255.0")}});
        return ndFindAdapter(inet_addr("127.1.0.7"), nullptr);
    }();
    return adapter;
}

// Runs handler on data as a message from 127.1.0.7:137 (or 127.0.0.1 for
// the loopback channels).
inline void feed(int (*handler)(NDAdapter *), NDAdapter *a, const uint8_t *data, size_t size, bool local)
{
    static uint8_t send[ND_BUFFER_SIZE];
    if (size > ND_BUFFER_SIZE)
        size = ND_BUFFER_SIZE;
    std::vector<uint8_t> message(data, data + size);
    a->recv = message.data();
    a->length = static_cast<uint32_t>(size);
    a->send = send;
    a->nameSocket = a->datagramSocket = -1;
    a->srcIp = local ? htonl(INADDR_LOOPBACK) : inet_addr("127.1.0.7");
    a->srcPort = htons(137);
    handler(a);
    a->recv = nullptr;
    a->length = 0;
}

}  // namespace ndfuzz
