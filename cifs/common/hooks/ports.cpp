// Local ports for the stack's own outgoing sockets: counted up from 1036,
// a port handed back is reissued first, and the range starts again at 9999.
#include "cmselfip.h"

#include <mutex>

namespace {

std::mutex gLock;
uint16_t gNext = CM_PORT_FIRST;
uint16_t gFreed = CM_PORT_FIRST;

}  // namespace

extern "C" {

int cmPortManageStart(void)
{
    std::lock_guard<std::mutex> hold(gLock);
    gNext = gFreed = CM_PORT_FIRST;
    return 1;
}

uint16_t cmPortManage(void)
{
    std::lock_guard<std::mutex> hold(gLock);
    if (gNext > CM_PORT_END)
        return 0;
    uint16_t port = gFreed;
    if (gNext < CM_PORT_END) {
        if (gNext == gFreed)
            ++gNext;
        gFreed = gNext;
        if (gNext < CM_PORT_END)
            return port;
    }
    // Start the range again. The first port is given out here, so the
    // counting goes on after it rather than handing it out twice.
    gNext = gFreed = CM_PORT_FIRST + 1;
    return CM_PORT_FIRST;
}

void cmManageFreePort(uint16_t port)
{
    // Only a port of the range can come back; anything else would be handed out.
    if (port < CM_PORT_FIRST || port >= CM_PORT_END - 1)
        return;
    std::lock_guard<std::mutex> hold(gLock);
    gFreed = port;
}

int cmPortManageShutdown(void) { return 1; }

}  // extern "C"
