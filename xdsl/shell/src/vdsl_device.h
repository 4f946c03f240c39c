// The one seam between the shell and the xDSL device: the board build uses
// open, ioctl and close on /dev/vdsl; this host reaches the driver's device
// host instead. Tests put a fake device behind the same three calls.
#pragma once

#include <cstddef>

namespace vdsl_device {

// A descriptor, or -1.
int open_device();
// The driver's result for one request with the block's address.
int request(int fd, unsigned long number, void *block, std::size_t size);
void close_device(int fd);

}  // namespace vdsl_device
