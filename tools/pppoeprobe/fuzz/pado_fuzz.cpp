// The PADO checks and tag walk on arbitrary frames, then the report and
// feedback text of what they found: nothing read outside the frame, and no
// wire text adds a line of its own.
#include "offers.h"
#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *sink = std::fopen("/dev/null", "w");
    std::vector<uint8_t> frame(data, data + size);
    frame.shrink_to_fit();
    pppoe::Offer offer;
    if (!pppoe::pado_parse(frame.data(), frame.size(), &offer, sink))
        return 0;
    pppoe::print_offer(sink, offer);
    size_t services = offer.services.size();
    bool error = offer.has_error;
    pppoe::OfferList list;
    list.add(std::move(offer));
    std::string text = pppoe::feedback_text("eth0", list);
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    if (lines != 3 + services + (error ? 1 : 0))
        abort();
    return 0;
}
