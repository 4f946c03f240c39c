#include "report.h"

#include "printable.h"

namespace pppoe {

void print_offer(FILE *out, const Offer &offer)
{
    char mac[ZMO_MAC_ADDR_STRLEN];
    std::string error = printable(offer.error);
    std::fprintf(out, "\nAC name   : %s%s%s%s%s\n", printable(offer.ac_name).c_str(),
                 offer.has_error ? " " : "", offer.has_error ? "[" : "", offer.has_error ? error.c_str() : "",
                 offer.has_error ? "]" : "");
    std::fprintf(out, "HW address: %s\n", zmo_mac_addr_as_string(&offer.mac, mac));
    for (const std::string &s : offer.services)
        std::fprintf(out, "   Service: %s\n", printable(s).c_str());
}

void print_summary(FILE *out, const OfferList &list)
{
    std::fputs(list.offers().empty() ? "No access concentrators found.\n" : "\n", out);
}

namespace {
void line(std::string *text, const std::string &key, const std::string &value)
{
    text->append(key).append("=").append(printable(value)).append("\n");
}
}  // namespace

std::string feedback_text(const std::string &ifname, const OfferList &list)
{
    std::string text;
    line(&text, "PPPOE_INTERFACE", ifname);
    unsigned long n = 0;
    for (const Offer &o : list.offers()) {
        const std::string ac = "PPPOE_AC" + std::to_string(n++);
        char mac[ZMO_MAC_ADDR_STRLEN];
        line(&text, ac + "_NAME", o.ac_name);
        line(&text, ac + "_HW_ADDR", zmo_mac_addr_as_string(&o.mac, mac));
        if (o.has_error)
            line(&text, ac + "_ERROR", o.error);
        unsigned long k = 0;
        for (const std::string &s : o.services)
            line(&text, ac + "_SERVICE" + std::to_string(k++), s);
    }
    return text;
}

}  // namespace pppoe
