// PPPoE discovery frames: the PADI we send and the PADO offers we read.
#pragma once

#include "zmo.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pppoe {

constexpr uint16_t kDiscoveryEthertype = 0x8863;
constexpr uint8_t kVersionType = 0x11;
constexpr uint8_t kCodePadi = 0x09;
constexpr uint8_t kCodePado = 0x07;
constexpr size_t kHeaderLen = 20;  // Ethernet and PPPoE headers
constexpr size_t kPadiLen = 24;
constexpr size_t kMaxPayload = 1476;
constexpr size_t kReceiveBuffer = 1496;

enum Tag : uint16_t {
    kTagEndOfList = 0x0000,
    kTagServiceName = 0x0101,
    kTagAcName = 0x0102,
    kTagServiceNameError = 0x0201,
    kTagAcSystemError = 0x0202,
    kTagGenericError = 0x0203,
};

struct Offer {
    std::string ac_name;  // empty when the offer names no AC
    bool has_error = false;
    std::string error;
    std::string ifname;
    zmo_mac_addr_t mac{};
    std::vector<std::string> services;
};

// The PADI from own_mac to everyone, asking for any service.
void padi_build(uint8_t (&frame)[kPadiLen], const zmo_mac_addr_t &own_mac);

// Reads a received frame as an offer. False when it is no PADO; the walk's
// complaints about the tags go to diag, and the offer keeps them as its
// error text. The walk never reads past len, whatever the length field says.
bool pado_parse(const uint8_t *frame, size_t len, Offer *offer, FILE *diag);

}  // namespace pppoe
