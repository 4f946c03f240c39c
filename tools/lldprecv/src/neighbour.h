// What lldprecv reads from one LLDP frame and reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace lldp {

constexpr size_t kDescMax = 383;
constexpr size_t kModeMax = 31;
constexpr size_t kIdTextMax = 127;
constexpr size_t kChassisIdMin = 7;  // subtype and a MAC address
constexpr size_t kReceiveMax = 2048;

struct Neighbour {
    uint8_t mac[6] = {};
    uint32_t ip = 0;  // address bytes as they lie, the first least significant
    std::string desc;
    std::string mode;
    uint16_t http_port = 0;
    int32_t interface_idx = 0;
    std::string fw_version;
    std::string cid;
    std::string controller_cid;
};

// Diagnostic lines, shown with -d.
using Diag = std::function<void(const char *line)>;

// Reads the TLVs of a whole frame (Ethernet header included). False when the
// frame gives no report: too short, a chassis that is no MAC address, a
// management address that is no IPv4 address.
bool parse_lldpdu(const uint8_t *frame, size_t len, Neighbour *n, const Diag &diag);

}  // namespace lldp
