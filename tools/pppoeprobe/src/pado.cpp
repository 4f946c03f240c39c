#include "pado.h"

#include "printable.h"
#include "wire_cursor.h"

#include <cstring>

namespace pppoe {

namespace {
constexpr const char *kAcError = "unknown access concentrator error";

void set_error(Offer *offer, std::string_view value, const char *when_empty)
{
    offer->has_error = true;
    offer->error = value.empty() ? std::string(when_empty) : std::string(value);
}
}  // namespace

void padi_build(uint8_t (&frame)[kPadiLen], const zmo_mac_addr_t &own_mac)
{
    wire::Writer w(frame, sizeof frame);
    w.bytes(zmo_mac_addr_broadcast.bytes, 6);
    w.bytes(own_mac.bytes, 6);
    w.u16(kDiscoveryEthertype);
    w.u8(kVersionType);
    w.u8(kCodePadi);
    w.u16(0);  // session
    w.u16(4);  // payload: one empty Service-Name tag
    w.u16(kTagServiceName);
    w.u16(0);
}

bool pado_parse(const uint8_t *frame, size_t len, Offer *offer, FILE *diag)
{
    wire::Reader header(frame, len);
    header.claim(6);  // destination
    const uint8_t *source = header.claim(6);
    header.u16();  // ethertype, chosen by the socket
    uint8_t version_type = header.u8();
    uint8_t code = header.u8();
    uint16_t session = header.u16();
    uint16_t length = header.u16();
    if (header.overrun() || version_type != kVersionType || code != kCodePado || session != 0 || length < 1 ||
        length > kMaxPayload)
        return false;

    zmo_mac_addr_assign_array(&offer->mac, source, 6);
    char sender[ZMO_MAC_ADDR_STRLEN];
    zmo_mac_addr_as_string(&offer->mac, sender);

    // The tags end where the length says, or where the frame does.
    size_t walk = length < header.left() ? length : header.left();
    wire::Reader tags(frame + kHeaderLen, walk);
    bool named = false;
    while (tags.left() > 0) {
        uint16_t type = tags.u16();
        uint16_t tag_len = tags.u16();
        if (tags.overrun() || tag_len > tags.left()) {
            std::fprintf(diag, "A PADO tag (0x%04x) with an invalid length (%u) received from %s.\n", type,
                         tags.overrun() ? 0u : unsigned(tag_len), sender);
            set_error(offer, kAcError, kAcError);
            break;
        }
        std::string_view value = tags.bytes(tag_len);
        switch (type) {
        case kTagEndOfList:
            if (tag_len == 0)
                return true;
            std::fprintf(diag, "End-of-list tag received from %s has an invalid length (%u).\n", sender,
                         unsigned(tag_len));
            set_error(offer, kAcError, kAcError);
            break;
        case kTagServiceName:
            offer->services.emplace_back(value);
            break;
        case kTagAcName:
            if (!named) {
                offer->ac_name.assign(value);
                named = true;
            } else {
                std::fprintf(diag, "%s server sends several AC names (\"%s\", \"%s\") in the same packet.\n",
                             sender, printable(offer->ac_name).c_str(), printable(value).c_str());
                set_error(offer, kAcError, kAcError);
            }
            break;
        case kTagServiceNameError:
            set_error(offer, value, "unknown service name error");
            break;
        case kTagAcSystemError:
            set_error(offer, value, kAcError);
            break;
        case kTagGenericError:
            set_error(offer, value, "generic server error");
            break;
        default:
            break;
        }
    }
    return true;
}

}  // namespace pppoe
