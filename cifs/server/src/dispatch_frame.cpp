// The dispatch frame: which request is being served, from which connection
// and address, in which error mode its client is answered, and the direct
// transfer of its payload.
#include "dispatch_frame.h"

#include "csauth.h"
#include "cmstring.h"
#include "cssign.h"
#include "sysockets.h"
#include "zmo_acl.h"

#include <algorithm>
#include <cerrno>

namespace cs {

Frame gFrame;

// Set on every request of either protocol, so neither runs under the
// other's user.
bool setIdentity(const CSUser *user)
{
    char name[258];
    cmUnicodeToAnsiN(name, user->name, sizeof name);
    name[sizeof name - 1] = 0;
    int permissive = (user->anonymous || user->guest) ? 1 : csAuthIsPermissive();
    return zmo_acl_set_user(name) == 0 && zmo_acl_set_permissive(permissive) == 0;
}

}  // namespace cs

using cs::gFrame;

namespace {

// What a failed write(2) of a file says, as opposed to the connection's
// receive: the transfer's chunk was read off the socket before it.
bool fileWriteError(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EIO:
    case EROFS:
    case EPERM:
    case EACCES:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool cs::dtFromSocket(NSRecvContext *reader, uint32_t expected, uint32_t *fileStatus)
{
    *fileStatus = 0;
    if (gFrame.dtFd == -1 || gFrame.dtFd == -2)
        return true;
    // A count past the message would pull the client's next requests into the file.
    if (!reader || expected > reader->remaining)
        return false;
    NSSocket *slot = static_cast<NSSocket *>(gFrame.socket);
    for (uint32_t left = expected; left > 0;) {
        uint32_t count = std::min(left, SY_DT_BUFFER_SIZE);
        const uint32_t chunk = count;
        if (syDtFromSocket(nsGetSySocket(slot), gFrame.dtFd, &count) != 0) {
            if (!fileWriteError(errno))
                return false;
            *fileStatus = csErrorGetLast();
            reader->remaining -= chunk;
            return true;
        }
        if (count != chunk)
            return false;
        reader->remaining -= chunk;
        left -= chunk;
    }
    return true;
}

extern "C" {

int csDispatchInit(void)
{
    if (!gFrame.lateBuffer) {
        gFrame.lateBuffer = new (std::nothrow) uint8_t[CS_LATE_BUFFER_SIZE]();
        if (!gFrame.lateBuffer)
            return -1;
    }
    gFrame.dtFd = -1;
    return 0;
}

void csDispatchExit(void)
{
    delete[] gFrame.lateBuffer;
    gFrame.lateBuffer = nullptr;
}

void csDispatchSetSocket(CSSocketSlot socket) { gFrame.socket = socket; }
CSSocketSlot csDispatchGetSocket(void) { return gFrame.socket; }
void csDispatchSetSocketIp(const uint32_t *address) { gFrame.clientAddress = address; }
const uint32_t *csDispatchGetSocketIp(void) { return gFrame.clientAddress; }
void csDispatchSetNtError(uint32_t mode) { gFrame.ntStatusMode = mode; }
uint32_t csDispatchIsNtError(void) { return gFrame.ntStatusMode; }
uint32_t csDispatchIsSmb2(void) { return gFrame.smb2; }

uint32_t csErrorReturn(uint32_t nt, uint32_t dos)
{
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

uint32_t csDispatchCheckSpace(const uint8_t *responseStart, const uint8_t *position, uint32_t need)
{
    if (position < responseStart)
        return csErrorReturn(0xC0000023u, 0x00010002u);
    uint64_t end = uint64_t(position - responseStart) + need;
    return end < CS_RESPONSE_LIMIT ? 0 : csErrorReturn(0xC0000023u, 0x00010002u);
}

void csDispatchSetDtIn(uint32_t flag) { gFrame.dtIn = flag; }
uint32_t csDispatchIsDtIn(void) { return gFrame.dtIn; }
void csDispatchSetDtOut(uint32_t flag) { gFrame.dtOut = flag; }
uint32_t csDispatchIsDtOut(void) { return gFrame.dtOut; }

void csDispatchDtSet(int fd, uint32_t count)
{
    gFrame.dtFd = fd;
    gFrame.dtCount = count;
}

uint32_t csDispatchDtGetCount(void) { return gFrame.dtCount; }
int csDispatchDtAvailable(void) { return gFrame.dtFd != -1; }

void csDispatchDtSaveParameters(uint8_t *position, NSRecvContext *reader)
{
    gFrame.savedPosition = position;
    gFrame.savedReader = reader;
}

int csDispatchDtToSocket(NSRecvContext *)
{
    if (gFrame.dtFd == -1)
        return 1;
    NSSocket *slot = static_cast<NSSocket *>(gFrame.socket);
    // The answer announced every byte: a short send is continued until all
    // are out, or the connection fails.
    uint32_t left = gFrame.dtCount;
    while (left > 0) {
        uint32_t count = left;
        if (syDtToSocket(nsGetSySocket(slot), gFrame.dtFd, &count) != 0 || count == 0 || count > left)
            return 0;
        left -= count;
    }
    return 1;
}

int csDispatchDtFromSocket(NSRecvContext *reader, uint32_t expected)
{
    uint32_t fileStatus = 0;
    return cs::dtFromSocket(reader, expected, &fileStatus) && fileStatus == 0 ? 1 : 0;
}

int csDispatchDtDiscard(void)
{
    if (!gFrame.dtIn)
        return 1;
    gFrame.dtIn = 0;
    NSRecvContext *reader = gFrame.savedReader;
    if (!reader || !gFrame.savedPosition || !gFrame.requestBuffer)
        return 0;
    const uint8_t *end = gFrame.requestBuffer + NS_MESSAGE_BUFFER_SIZE;
    if (gFrame.savedPosition > end || reader->remaining > uint32_t(end - gFrame.savedPosition))
        return 0;
    uint32_t want = reader->remaining;
    if (want == 0)
        return 1;
    if (!cs::readMessage(reader, gFrame.savedPosition, want))
        return 0;
    // The whole message is in the buffer now: offsets may reach all of it.
    gFrame.requestLength = uint32_t(gFrame.savedPosition - gFrame.requestBuffer) + want;
    return 1;
}

}  // extern "C"
