#include "lldpdu.h"

#include "wire_cursor.h"

#include <algorithm>
#include <string_view>

namespace lldp {

namespace {

// One text TLV of the frame in order: which TLV, what precedes the text in
// its value, and whether it goes in at all.
struct Item {
    unsigned type;
    uint8_t subtype_or_org;  // Port ID subtype, or the "ZMO" subtype
    bool organisation;
    const char *field;
    const std::string *text;  // null: fixed value
    size_t fixed;             // value bytes besides the text
    bool present;
};

class Builder {
public:
    Builder(uint8_t *buf, std::vector<Cut> *cuts) : w_(buf, kFrameMax), cuts_(cuts) {}

    wire::Writer &writer() { return w_; }

    // Room for a text when `reserve` bytes must stay free behind it.
    std::string_view fit(const Item &it, size_t reserve)
    {
        size_t cap = (it.organisation ? kOrgDataMax : kTlvValueMax - it.fixed);
        size_t room =
            w_.left() >= reserve + kTlvHeader + it.fixed ? w_.left() - reserve - kTlvHeader - it.fixed : 0;
        size_t keep = std::min({it.text->size(), cap, room});
        if (keep < it.text->size() && cuts_)
            cuts_->push_back({it.field, it.text->size(), keep});
        return std::string_view(*it.text).substr(0, keep);
    }

private:
    wire::Writer w_;
    std::vector<Cut> *cuts_;
};

}  // namespace

size_t build(const Announcement &a, uint8_t *buf, std::vector<Cut> *cuts)
{
    uint16_t caps = static_cast<uint16_t>((a.bridge ? kCapBridge : 0) | (a.wlan_ap ? kCapWlanAp : 0) |
                                          (a.mode == "router" ? kCapRouter : 0));
    const bool priv = a.private_scope;

    // Every TLV in frame order; fixed ones carry their whole value size.
    const Item items[] = {
        {kTlvChassisId, 0, false, nullptr, nullptr, 7, true},
        {kTlvPortId, kPortInterfaceName, false, "port id", &a.port_id, 1, true},
        {kTlvTtl, 0, false, nullptr, nullptr, 2, true},
        {kTlvPortDescription, 0, false, "port description", &a.port_description, 0, true},
        {kTlvSystemName, 0, false, "system name", &a.system_name, 0, true},
        {kTlvSystemDescription, 0, false, "system description", &a.system_description, 0, true},
        {kTlvManagementAddress, 0, false, nullptr, nullptr, kManagementAddressLen, priv && a.has_address},
        {kTlvCapabilities, 0, false, nullptr, nullptr, 4, true},
        {kTlvOrganisation, kZmoMode, true, "mode", &a.mode, kOrgHeader, true},
        {kTlvOrganisation, kZmoHttpPort, true, nullptr, nullptr, kOrgHeader + 2, priv && a.http_port != 0},
        {kTlvOrganisation, kZmoFirmware, true, "firmware version", &a.firmware, kOrgHeader, priv},
        {kTlvOrganisation, kZmoClientId, true, "client id", &a.client_id, kOrgHeader,
         priv && a.client_id.size() >= 2},
        {kTlvOrganisation, kZmoControllerClientId, true, "controller client id", &a.controller_client_id,
         kOrgHeader, priv && a.controller_client_id.size() >= 2},
        {kTlvEnd, 0, false, nullptr, nullptr, 0, true},
    };
    constexpr size_t kItems = sizeof items / sizeof items[0];
    // reserve[i]: bytes that the TLVs after item i need at the least.
    size_t reserve[kItems] = {};
    for (size_t i = kItems - 1; i > 0; i--)
        reserve[i - 1] = reserve[i] + (items[i].present ? kTlvHeader + items[i].fixed : 0);

    Builder b(buf, cuts);
    wire::Writer &w = b.writer();
    w.bytes(priv ? zmo_mac_addr_broadcast.bytes : kNearestBridge, 6);
    w.bytes(a.chassis.bytes, 6);
    w.u16(kEthertype);

    for (size_t i = 0; i < kItems; i++) {
        const Item &it = items[i];
        if (!it.present)
            continue;
        std::string_view text = it.text ? b.fit(it, reserve[i]) : std::string_view();
        w.u16(tlv_header(it.type, it.fixed + text.size()));
        if (it.organisation) {
            w.bytes(kOui, sizeof kOui);
            w.u8(it.subtype_or_org);
        }
        switch (it.type) {
        case kTlvChassisId:
            w.u8(kChassisMac);
            w.bytes(a.chassis.bytes, 6);
            break;
        case kTlvPortId:
            w.u8(kPortInterfaceName);
            break;
        case kTlvTtl:
            w.u16(kTtlSeconds);
            break;
        case kTlvManagementAddress:
            w.u8(kAddressStringLen);
            w.u8(kAddressIpv4);
            w.bytes(a.address, 4);
            w.u8(kNumberingIfIndex);
            w.u32(static_cast<uint32_t>(a.ifindex));
            w.u8(0);  // OID string length
            break;
        case kTlvCapabilities:
            w.u16(caps);
            w.u16(caps);
            break;
        case kTlvOrganisation:
            if (it.subtype_or_org == kZmoHttpPort)
                w.u16(a.http_port);
            break;
        default:
            break;
        }
        w.bytes(text);
    }
    // The fixed TLVs alone fit many times over; an overrun here is a bug.
    return w.overrun() ? 0 : w.size();
}

}  // namespace lldp
