// lldprecv's TLV walk on arbitrary frames: no read outside the frame, and
// the fields never longer than their reports allow.
#include "neighbour.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so that a read one past the end is caught.
    std::vector<uint8_t> frame(data, data + size);
    frame.shrink_to_fit();
    lldp::Neighbour n;
    lldp::parse_lldpdu(frame.data(), frame.size(), &n, [](const char *) {});
    if (n.desc.size() > lldp::kDescMax || n.mode.size() > lldp::kModeMax || n.cid.size() > lldp::kIdTextMax ||
        n.fw_version.size() > lldp::kIdTextMax || n.controller_cid.size() > lldp::kIdTextMax)
        abort();
    return 0;
}
