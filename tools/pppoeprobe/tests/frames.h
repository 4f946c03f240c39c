// PADO frames and offers for the probe's tests.
#pragma once

#include "pado.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pppoe_test {

struct Tag {
    uint16_t type;
    std::string value;
    int declared = -1;  // tag length field when it lies
};

inline std::vector<uint8_t> pado(const std::vector<Tag> &tags, int declared_length = -1,
                                 const uint8_t mac[6] = nullptr, uint8_t code = 0x07)
{
    static const uint8_t kSender[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    std::vector<uint8_t> f = {0x02, 0, 0, 0, 0, 0x99};
    const uint8_t *src = mac ? mac : kSender;
    f.insert(f.end(), src, src + 6);
    f.insert(f.end(), {0x88, 0x63, 0x11, code, 0, 0, 0, 0});
    for (const Tag &t : tags) {
        size_t len = t.declared >= 0 ? size_t(t.declared) : t.value.size();
        f.insert(f.end(), {uint8_t(t.type >> 8), uint8_t(t.type), uint8_t(len >> 8), uint8_t(len)});
        f.insert(f.end(), t.value.begin(), t.value.end());
    }
    size_t length = declared_length >= 0 ? size_t(declared_length) : f.size() - 20;
    f[18] = uint8_t(length >> 8);
    f[19] = uint8_t(length);
    return f;
}

// An offer as a PADO would give it; an error text sets the error flag.
inline pppoe::Offer offer(const char *name, const char *mac, std::vector<std::string> services = {},
                          const char *error = nullptr)
{
    pppoe::Offer o;
    o.ac_name = name;
    zmo_mac_addr_parse(&o.mac, mac);
    o.services = std::move(services);
    if (error) {
        o.has_error = true;
        o.error = error;
    }
    return o;
}

}  // namespace pppoe_test
