// The one seam to the boot interface's network driver: its private
// requests set the chip's reset line. The board issues them on the
// interface; this host hands them to the bench wiring of the simulator.
#pragma once

namespace boot_if {

// request: SIOCDEVPRIVATE (line low, chip held) or SIOCDEVPRIVATE + 1 (high).
// fd is a packet socket bound to the interface. The driver's answer.
int private_request(int fd, const char *ifname, unsigned long request);

}  // namespace boot_if
