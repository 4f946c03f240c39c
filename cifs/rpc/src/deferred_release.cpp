// Releases an operation must not carry out under itself: closing the pipe
// that carries the call, or logging off the user whose request it is. They
// wait until the answer has left the pipe: read whole, lost to a new write,
// or gone with the pipe.
#include "csdcerpc.h"

#include "csdb.h"
#include "csfiles.h"

#include <vector>

namespace {

struct Release {
    bool user;
    uint16_t id;
    CSFile *pipe;  // the pipe that carries the answer
    uint16_t pipeFid;
};

std::vector<Release> gPending;

void defer(bool user, uint16_t id)
{
    CSFile *pipe = csDcerpcCurrentPipe();
    try {
        gPending.push_back(Release{user, id, pipe, pipe ? pipe->fid : uint16_t(CS_FREE_ID)});
    } catch (...) {
        // Without room to remember it the release is not made at all,
        // which loses nothing but the client's request.
    }
}

bool answerWaits(const Release &r)
{
    return r.pipe && csGetFileByJustFid(r.pipeFid) == r.pipe && r.pipe->callState;
}

}  // namespace

extern "C" {

void csDcerpcDeferFileRelease(uint16_t fid) { defer(false, fid); }
void csDcerpcDeferUserRelease(uint16_t uid) { defer(true, uid); }

void csDcerpcRunDeferredReleases(void)
{
    std::vector<Release> due, waiting;
    try {
        for (const Release &r : gPending)
            (answerWaits(r) ? waiting : due).push_back(r);
    } catch (...) {
        return;
    }
    gPending.swap(waiting);
    for (const Release &r : due) {
        if (r.user) {
            csReleaseUserAndDisconnect(r.id, 0);
        } else if (r.id != r.pipeFid || csGetFileByJustFid(r.pipeFid) == r.pipe) {
            // A pipe that closed meanwhile is not looked for again: its slot
            // may already hold another file.
            csReleaseFile(r.id);
        }
    }
}

}  // extern "C"
