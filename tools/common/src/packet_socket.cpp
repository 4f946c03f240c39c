#include "packet_socket.h"

#include "zmo.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tools {

int open_packet_socket(uint16_t protocol, const char *role)
{
    int s = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (s < 0) {
        zmo_log(ZMO_LOG_ERROR, "unable to open %s socket: %s", role, zmo_sys_strerror(errno));
        return -1;
    }
    int flags = fcntl(s, F_GETFL);
    if (flags < 0) {
        zmo_log(ZMO_LOG_ERROR, "unable to get socket flags: %s", zmo_sys_strerror(errno));
        close(s);
        return -1;
    }
    if (fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) {
        zmo_log(ZMO_LOG_ERROR, "unable to set socket flags: %s", zmo_sys_strerror(errno));
        close(s);
        return -1;
    }
    return s;
}

}  // namespace tools
