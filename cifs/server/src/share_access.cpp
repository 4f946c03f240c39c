// The user's read and write rights on the share of a tree, by the share's
// security descriptor.
#include "cspaths.h"

#include "cmsd.h"
#include "csdispatch.h"

namespace {

constexpr uint32_t kRead = 1, kWrite = 2;

uint32_t canAccess(uint16_t tid, uint32_t mask)
{
    CSTree *tree = csGetTreeByTid(tid);
    if (!tree)
        return 0x00050002u;  // ERRSRV invalid tid, in either mode
    const CSShare *share = static_cast<const CSShare *>(tree->share);
    const CSUser *user = csGetUserByUid(tree->uid);
    // A refusal by a share's rights is an access violation, not access denied.
    const uint32_t refused = csErrorReturn(0xC0000005u, 0x000C0001u);
    if (!share || !user)
        return refused;
    // A share without a descriptor is open to its users.
    if (share->sd.length == 0)
        return 0;
    return cmSdHasAccess(&user->token, &share->sd, mask) ? 0 : refused;
}

}  // namespace

extern "C" {

uint32_t csCanReadShare(uint16_t tid) { return canAccess(tid, kRead); }
uint32_t csCanWriteShare(uint16_t tid) { return canAccess(tid, kWrite); }

}  // extern "C"
