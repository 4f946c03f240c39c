// NT_TRANSACT's security descriptor subcommands, and the empty descriptors
// they answer and accept when the host keeps none.
#include "smb1_answer.h"

#include "csfiles.h"
#include "csservices.h"
#include "cspaths.h"
#include "cstrans.h"
#include "udhooks.h"

#include <algorithm>
#include <cstring>

using namespace cs::smb1;

namespace {

// Revision 1, control 0x8000 (self-relative), owner at 20: S-1-1-0.
constexpr uint8_t kOwnerSd[32] = {1, 0, 0x00, 0x80, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  0, 0, 0,    0,    1,  1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
// Revision 1, control 0x8494, DACL at 20: one ACE allowing S-1-1-0 0x001F01FF,
// inherited by objects and containers.
constexpr uint8_t kDaclSd[48] = {1,    0,    0x94, 0x84, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  0,
                                 20,   0,    0,    0,    2, 0, 28, 0, 1, 0, 0, 0, 0, 3, 20, 0,
                                 0xFF, 0x01, 0x1F, 0x00, 1, 1, 0,  0, 0, 0, 0, 1, 0, 0, 0,  0};
// Room for a descriptor the host hands over.
constexpr uint32_t kSdRoom = 1024;

struct SdRequest {
    CSFile *file;
    uint32_t information;
};

// FID, reserved, SecurityInformation: the file of this tree and user.
uint32_t readRequest(const CSTransaction *t, SdRequest *out)
{
    if (t->parameterCount < 8)
        return kInvalid();
    out->file = csGetFileByFid(u16(t->parameters), headerTid(), headerUid());
    if (!out->file)
        return kBadFid();
    out->information = u32(t->parameters + 4);
    return 0;
}

uint32_t roomAt(const CSTransaction *t, const uint8_t *at)
{
    const uint8_t *limit = t->response + CS_TRANS_RESPONSE_SIZE;
    return at < limit ? uint32_t(limit - at) : 0;
}

}  // namespace

extern "C" {

const uint8_t *csGetEmptySd(uint32_t information, uint32_t *length)
{
    if (information == 1) {
        *length = sizeof kOwnerSd;
        return kOwnerSd;
    }
    *length = sizeof kDaclSd;
    return kDaclSd;
}

uint32_t csNtTransactionQuerySecurityDescriptor(CSTransaction *t)
{
    if (uint32_t status = csCanReadShare(headerTid()))
        return status;
    SdRequest q{};
    if (uint32_t status = readRequest(t, &q))
        return status;
    uint8_t sd[kSdRoom];
    int got = udGetSecurityDescriptor(q.file->fd, q.information, sd);
    uint32_t length = 0;
    if (got < 0 || uint32_t(got) > sizeof sd) {
        const uint8_t *empty = csGetEmptySd(q.information, &length);
        std::memcpy(sd, empty, length);
    } else {
        length = uint32_t(got);
    }
    if (roomAt(t, t->parametersOut) < 4)
        return kTooSmall();
    setU32(t->parametersOut, length);
    t->parameterCountOut = 4;
    t->dataOut = t->parametersOut + 4;
    // The client learns LengthNeeded when its MaxDataCount is too small.
    if (t->maxDataCount < length) {
        t->dataCountOut = 0;
        return CS_STATUS_TRANS_TOO_SMALL;
    }
    if (roomAt(t, t->dataOut) < length)
        return kTooSmall();
    std::memcpy(t->dataOut, sd, length);
    t->dataCountOut = length;
    return 0;
}

uint32_t csNtTransactionSetSecurityDescriptor(CSTransaction *t)
{
    if (uint32_t status = csCanWriteShare(headerTid()))
        return status;
    SdRequest q{};
    if (uint32_t status = readRequest(t, &q))
        return status;
    if (udSetSecurityDescriptor(q.file->fd, q.information, t->data, t->dataCount) < 0) {
        // The host keeps none: the empty descriptor is taken as set.
        uint32_t length = 0;
        const uint8_t *empty = csGetEmptySd(q.information, &length);
        if (t->dataCount < length || std::memcmp(t->data, empty, length) != 0)
            return kNotSupported();
    }
    const CMWchar *name = csGetFileName(q.file->fid);
    if (!name)
        return kGeneral();
    csNotifyImmediatelly(name, 3, 0x100);
    t->parameterCountOut = 0;
    t->dataCountOut = 0;
    return 0;
}

}  // extern "C"
