// The dispatch frame as the dispatcher's sources share it.
#pragma once
#include "csdispatch.h"

#include <new>

namespace cs {

struct Frame {
    uint8_t *lateBuffer;
    CSSocketSlot socket;
    uint8_t *requestBuffer;
    const uint32_t *clientAddress;
    uint32_t ntStatusMode;
    uint32_t smb2;
    int dtFd;
    uint32_t dtCount;
    NSRecvContext *savedReader;
    uint8_t *savedPosition;
    uint32_t dtIn;
    uint32_t dtOut;
    // The write being served, for the write commands' save callbacks.
    uint32_t writeFid;
    void *writeFile;
    uint32_t writeCount;
    // The monotonic time (ms) by which the current message must be in.
    uint64_t deadlineMs;
    // Bytes of the current message in the request buffer (from the SMB
    // header): offsets and counts read off the wire must stay below it.
    uint32_t requestLength;
};

extern Frame gFrame;

// Little-endian fields of the SMB1 header and blocks.
inline uint16_t u16(const uint8_t *p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void setU16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void setU32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// Reads exactly n bytes of the current message by the frame's deadline.
bool readMessage(NSRecvContext *reader, uint8_t *to, uint32_t n);

// Moves a direct WRITE's data from the socket into the file. False when the
// connection failed or went out of step; true otherwise, with *fileStatus 0
// or the status of a file write that failed: the rest of the data is then
// still unread in the message (reader->remaining says how much).
bool dtFromSocket(NSRecvContext *reader, uint32_t expected, uint32_t *fileStatus);

// Tells the access-control library whose request this is: false when it
// refuses the user.
bool setIdentity(const CSUser *user);

}  // namespace cs
