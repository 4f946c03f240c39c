// The LLDPDU that lldpsend sends and lldprecv reads: frame layout, TLV
// types and the organisation-specific "ZMO" TLVs, in one place.
#pragma once

#include "zmo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lldp {

constexpr uint16_t kEthertype = 0x88CC;
constexpr size_t kFrameMax = 1024;
constexpr size_t kEthHeader = 14;
constexpr uint8_t kNearestBridge[6] = {0x01, 0x80, 0xC2, 0x00, 0x00, 0x0E};

// TLV header: 7-bit type, 9-bit value length, big-endian.
constexpr size_t kTlvHeader = 2;
constexpr size_t kTlvValueMax = 511;
inline uint16_t tlv_header(unsigned type, size_t len)
{
    return static_cast<uint16_t>(type << 9 | (len & 0x1FF));
}
inline unsigned tlv_type(uint16_t header) { return header >> 9; }
inline size_t tlv_length(uint16_t header) { return header & 0x1FF; }

enum TlvType : unsigned {
    kTlvEnd = 0,
    kTlvChassisId = 1,
    kTlvPortId = 2,
    kTlvTtl = 3,
    kTlvPortDescription = 4,
    kTlvSystemName = 5,
    kTlvSystemDescription = 6,
    kTlvCapabilities = 7,
    kTlvManagementAddress = 8,
    kTlvOrganisation = 127,
};

constexpr uint8_t kChassisMac = 4;         // Chassis ID subtype
constexpr uint8_t kPortInterfaceName = 5;  // Port ID subtype
constexpr uint16_t kTtlSeconds = 120;
constexpr uint8_t kAddressStringLen = 5;  // subtype and 4 IPv4 bytes
constexpr uint8_t kAddressIpv4 = 1;
constexpr uint8_t kNumberingIfIndex = 2;
constexpr size_t kManagementAddressLen = 12;

constexpr uint16_t kCapBridge = 4;
constexpr uint16_t kCapWlanAp = 8;
constexpr uint16_t kCapRouter = 16;

// Organisation-specific TLVs: OUI "ZMO", a subtype, the data.
constexpr uint8_t kOui[3] = {'Z', 'M', 'O'};
constexpr size_t kOrgHeader = 4;
constexpr size_t kOrgDataMax = kTlvValueMax - kOrgHeader;
enum OrgSubtype : uint8_t {
    kZmoMode = 1,
    kZmoHttpPort = 2,
    kZmoFirmware = 3,
    kZmoClientId = 4,
    kZmoControllerClientId = 5,
};

struct Announcement {
    bool private_scope = false;
    std::string mode = "router";
    zmo_mac_addr_t chassis{};
    std::string port_id;
    std::string port_description;
    int ifindex = 0;
    std::string system_name;
    std::string system_description;
    bool has_address = false;
    uint8_t address[4] = {};
    uint16_t http_port = 0;
    bool bridge = false;
    bool wlan_ap = false;
    std::string firmware;
    std::string client_id;
    std::string controller_client_id;
};

// A text that did not fit and was cut to `kept` bytes.
struct Cut {
    const char *field;
    size_t length;
    size_t kept;
};

// Builds the frame into buf (kFrameMax bytes) and returns its length. Texts
// are cut to what their TLV holds and to what the frame has room for after
// the TLVs that must follow; each cut is listed in cuts when given.
size_t build(const Announcement &a, uint8_t *buf, std::vector<Cut> *cuts = nullptr);

}  // namespace lldp
