// NT access and sharing as a DOS-style open mode, and the sharing table's
// lookup between two opens of one name.
#include "cscreate.h"
#include "share_modes.h"

namespace {

constexpr uint32_t kSynchronize = 0x100000u, kReadAttributes = 0x80u, kWriteAttributes = 0x100u;
constexpr uint32_t kDelete = 0x10000u, kShareDelete = 0x4u;
constexpr uint32_t kGenericAll = 1u << 28, kGenericExecute = 1u << 29, kGenericWrite = 1u << 30,
                   kGenericRead = 1u << 31;

// Row and column index of a sharing nibble; -1 for one the table lacks.
int sharingIndex(unsigned nibble)
{
    if (nibble == 0xF)
        return 5;
    nibble &= 0x7;  // bit 7 is not looked at
    return nibble <= 4 ? int(nibble) : -1;
}

unsigned accessIndex(unsigned code)
{
    switch (code) {
    case 0x2:
    case 0xA:
    case 0xF:
        return 0;
    case 0x1:
    case 0x9:
        return 2;
    case 0x3:
    case 0xB:
        return 3;
    default:
        return 1;
    }
}

}  // namespace

namespace cs {

uint8_t shareModeGrant(uint16_t existing, uint16_t requested, bool sameUser, bool executable)
{
    int es = sharingIndex((existing >> 4) & 0xF), ns = sharingIndex((requested >> 4) & 0xF);
    if (es < 0 || ns < 0)
        return kShareViolation;
    unsigned entry = ((unsigned(es) * 4 + accessIndex(existing & 0xF)) * 6 + unsigned(ns)) * 4 +
                     accessIndex(requested & 0xF);
    return kShareModes[entry][(sameUser ? 0 : 2) + (executable ? 1 : 0)];
}

}  // namespace cs

extern "C" {

uint16_t csAccessToOpenMode(uint32_t access, uint32_t share)
{
    uint16_t mode;
    if ((access & ~(kSynchronize | kReadAttributes | kWriteAttributes)) == 0) {
        // Attributes only: no data access, and others may delete.
        mode = CS_MODE_NO_DATA | CS_MODE_SHARE_DELETE;
    } else {
        if (access & kGenericAll)
            access |= 0x10023u;
        else if (access & (kGenericRead | kGenericWrite | kGenericExecute)) {
            if (access & kGenericWrite)
                access |= 0x2u;
            if (access & kGenericRead)
                access |= 0x1u;
            if (access & kGenericExecute)
                access |= 0x20u;
        }
        if (!(access & 0x3u) && (access & (kReadAttributes | kWriteAttributes)))
            access |= 0x1u;
        switch (access & 0x7u) {
        case 0:
            mode = CS_MODE_NO_DATA;
            break;
        case 1:
            mode = CS_MODE_READ;
            break;
        case 2:
        case 4:
        case 6:
            mode = CS_MODE_WRITE;
            break;
        default:
            mode = CS_MODE_READ_WRITE;
            break;
        }
        if (access & kDelete)
            mode |= CS_MODE_DELETE;
        if ((access & 0x7u) == 0)
            mode |= CS_MODE_SHARE_DELETE;
    }
    static const uint16_t kSharing[4] = {CS_MODE_SHARING_FCB, CS_MODE_DENY_WRITE, CS_MODE_DENY_READ,
                                         CS_MODE_DENY_NONE};
    mode |= kSharing[share & 0x3u];
    if (share & kShareDelete)
        mode |= CS_MODE_SHARE_DELETE;
    if ((mode & CS_MODE_ACCESS_MASK) == CS_MODE_NO_DATA)
        mode = uint16_t((mode & ~CS_MODE_SHARING_MASK) | CS_MODE_DENY_NONE);
    return mode;
}

int csOpenModeIsValid(uint16_t mode)
{
    unsigned access = mode & CS_MODE_ACCESS_MASK;
    if (access > CS_MODE_NO_DATA && access != CS_MODE_FCB)
        return 0;
    return sharingIndex((mode >> 4) & 0xF) >= 0 ? 1 : 0;
}

}  // extern "C"
