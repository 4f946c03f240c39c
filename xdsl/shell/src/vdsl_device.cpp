// The device calls of the shell. On the board the block's size is implied by
// the request; on this host it travels with the block.
#include "vdsl_device.h"

#ifdef DRUVEL_BOARD
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#else
#include "vdsl_dev.h"
#endif

namespace vdsl_device {

#ifdef DRUVEL_BOARD
int open_device() { return ::open("/dev/vdsl", O_RDWR); }
int request(int fd, unsigned long number, void *block, std::size_t) { return ::ioctl(fd, number, block); }
void close_device(int fd) { ::close(fd); }
#else
int open_device() { return vdsl_dev_open(); }
int request(int fd, unsigned long number, void *block, std::size_t size)
{
    return vdsl_dev_ioctl(fd, number, block, size);
}
void close_device(int fd) { vdsl_dev_close(fd); }
#endif

}  // namespace vdsl_device
