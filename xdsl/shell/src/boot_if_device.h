// The one seam to the boot interface's network driver: its private
// requests set the chip's reset line and hand out the service record. The board issues them on the
// interface; this host hands them to the bench wiring of the simulator.
#pragma once

namespace boot_if {

// request: SIOCDEVPRIVATE (line low, chip held) or SIOCDEVPRIVATE + 1 (high).
// fd is a packet socket bound to the interface. The driver's answer.
int private_request(int fd, const char *ifname, unsigned long request);

// SIOCDEVPRIVATE + 4: the board's service record of size bytes into
// record. fd is a datagram socket, a handle only. The driver's answer.
int service_record(int fd, const char *ifname, unsigned char *record, unsigned long size);

}  // namespace boot_if
