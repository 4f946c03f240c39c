// One request to the device host and its answer, each a single message on
// a UNIX seqpacket connection. The block follows the header.
#ifndef KSTANDIN_DEVHOST_WIRE_H
#define KSTANDIN_DEVHOST_WIRE_H

#include <cstdint>

namespace kstandin {

constexpr uint32_t kWireMagic = 0x76444556; // "VDEV"

struct WireRequest {
    uint32_t magic;
    uint32_t request;
    uint32_t has_block; // 0: a null argument
    uint32_t size;      // bytes of block that follow
};

struct WireAnswer {
    uint32_t magic;
    int32_t result;
    uint32_t size; // bytes of block that follow (the request's size)
};

} // namespace kstandin

#endif
