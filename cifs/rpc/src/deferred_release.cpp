// Releases an operation must not carry out under itself: closing the pipe
// that carries the call, or logging off the user whose request it is. They
// wait until the request has been answered.
#include "csdcerpc.h"

#include "csdb.h"
#include "csfiles.h"

#include <vector>

namespace {

struct Release {
    bool user;
    uint16_t id;
};

std::vector<Release> gPending;

void defer(bool user, uint16_t id)
{
    try {
        gPending.push_back(Release{user, id});
    } catch (...) {
        // Without room to remember it the release is not made at all,
        // which loses nothing but the client's request.
    }
}

}  // namespace

extern "C" {

void csDcerpcDeferFileRelease(uint16_t fid) { defer(false, fid); }
void csDcerpcDeferUserRelease(uint16_t uid) { defer(true, uid); }

void csDcerpcRunDeferredReleases(void)
{
    std::vector<Release> pending;
    pending.swap(gPending);
    for (const Release &r : pending) {
        if (r.user)
            csReleaseUserAndDisconnect(r.id, 0);
        else
            csReleaseFile(r.id);
    }
}

}  // extern "C"
