// The dispatch frame's request identity: which connection is being served,
// from which address, and in which error mode its client is answered.
#include "csdispatch.h"

namespace {

struct Frame {
    CSSocketSlot socket;
    const uint32_t *clientAddress;
    uint32_t ntStatusMode;
};

Frame gFrame;

} // namespace

extern "C" {

void csDispatchSetSocket(CSSocketSlot socket) { gFrame.socket = socket; }
CSSocketSlot csDispatchGetSocket(void) { return gFrame.socket; }
void csDispatchSetSocketIp(const uint32_t *address) { gFrame.clientAddress = address; }
const uint32_t *csDispatchGetSocketIp(void) { return gFrame.clientAddress; }
void csDispatchSetNtError(uint32_t mode) { gFrame.ntStatusMode = mode; }
uint32_t csDispatchIsNtError(void) { return gFrame.ntStatusMode; }

uint32_t csErrorReturn(uint32_t nt, uint32_t dos) {
    if (dos == 0) {
        gFrame.ntStatusMode = 1;
        return nt;
    }
    if (nt == 0) {
        gFrame.ntStatusMode = 0;
        return dos;
    }
    return gFrame.ntStatusMode ? nt : dos;
}

} // extern "C"
