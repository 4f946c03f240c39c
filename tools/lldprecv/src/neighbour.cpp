#include "neighbour.h"

#include "lldpdu.h"
#include "wire_cursor.h"

#include <cstdio>
#include <cstring>

namespace lldp {

namespace {

void organisation(std::string_view value, Neighbour *n)
{
    wire::Reader r(reinterpret_cast<const uint8_t *>(value.data()), value.size());
    const uint8_t *oui = r.claim(sizeof kOui);
    uint8_t subtype = r.u8();
    if (r.overrun() || std::memcmp(oui, kOui, sizeof kOui) != 0)
        return;
    std::string_view data = r.bytes(r.left());
    switch (subtype) {
    case kZmoMode:
        if (data.size() <= kModeMax)
            n->mode.assign(data);
        break;
    case kZmoHttpPort:
        if (data.size() == 2)
            n->http_port = static_cast<uint16_t>(uint8_t(data[0]) << 8 | uint8_t(data[1]));
        break;
    case kZmoFirmware:
        if (data.size() <= kIdTextMax)
            n->fw_version.assign(data);
        break;
    case kZmoClientId:
        if (data.size() <= kIdTextMax)
            n->cid.assign(data);
        break;
    case kZmoControllerClientId:
        if (data.size() <= kIdTextMax)
            n->controller_cid.assign(data);
        break;
    default:
        break;
    }
}

}  // namespace

bool parse_lldpdu(const uint8_t *frame, size_t len, Neighbour *n, const Diag &diag)
{
    if (len < kEthHeader + kTlvHeader) {
        diag("malformed LLDP packet");
        return false;
    }
    wire::Reader r(frame + kEthHeader, len - kEthHeader);
    while (r.left() >= kTlvHeader) {
        size_t at = kEthHeader + r.offset();
        uint16_t header = r.u16();
        size_t tlv_len = tlv_length(header);
        if (tlv_len > r.left()) {
            char line[96];
            std::snprintf(line, sizeof line, "packet len: %zu, offset: %zu, TLV len:%zu", len, at, tlv_len);
            diag(line);
            break;
        }
        std::string_view value = r.bytes(tlv_len);
        const uint8_t *v = reinterpret_cast<const uint8_t *>(value.data());
        switch (tlv_type(header)) {
        case kTlvChassisId:
            // A MAC address chassis needs its subtype and six bytes.
            if (tlv_len < kChassisIdMin || v[0] != kChassisMac)
                return false;
            std::memcpy(n->mac, v + 1, 6);
            break;
        case kTlvSystemDescription:
            if (tlv_len <= kDescMax)
                n->desc.assign(value);
            break;
        case kTlvManagementAddress:
            if (tlv_len < 6 || v[0] != kAddressStringLen || v[1] != kAddressIpv4)
                return false;
            n->ip = static_cast<uint32_t>(v[2]) | static_cast<uint32_t>(v[3]) << 8 |
                    static_cast<uint32_t>(v[4]) << 16 | static_cast<uint32_t>(v[5]) << 24;
            break;
        case kTlvOrganisation:
            organisation(value, n);
            break;
        default:
            break;
        }
    }
    return true;
}

}  // namespace lldp
