// The fuzzers' fake pipe: a private /var/run with a few shares, one client
// logged on with a tree on IPC$, and pipes opened on it.
#pragma once
#include "ud_test_env.h"

#include "csauth.h"
#include "csdb.h"
#include "csdcerpc.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csshares.h"
#include "cmnetbios.h"
#include "cmsd.h"
#include "cmstring.h"
#include "syfiles.h"
#include "udhooks.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzzpipe {

inline int gSocket;
inline uint32_t gAddress = 0x0201A8C0;
inline CSUser *gUser;
inline CSTree *gTree;

// A logged-on client; again whenever a call released it.
inline void seed(bool administrator)
{
    csDispatchSetSocket(&gSocket);
    csDispatchSetSocketIp(&gAddress);
    if (!gUser || !csGetUserByUid(gUser->uid) || !gTree || !csGetTreeByTid(gTree->tid)) {
        csReleaseSessions(&gSocket, 1);
        CSSession *s = csGetNewSession();
        if (!s)
            std::abort();
        s->dialect = CS_DIALECT_SMB311;
        gUser = csGetNewUser(s);
        if (!gUser)
            std::abort();
        cmAnsiToUnicode(gUser->name, "alice");
        gUser->loggedOn = gUser->authenticated = 1;
        gTree = csGetNewTree(gUser);
        if (!gTree)
            std::abort();
        gTree->share = csGetShareByIndex(0);
    }
    CMSdAccessToken &t = gUser->token;
    t.domain = *cmSdGetComputerSid();
    t.ridCount = 1;
    t.rids[0] = administrator ? uint32_t(-1001) : 1001u;
}

inline void start()
{
    if (!testenv::enterPrivateRun() || !testenv::enterPrivateNet())
        std::abort();
    udInit();
    syInit();
    cmSdInit();
    cmNetBiosInit();
    testenv::writeFile(UD_CONFIG_DIR "cs_cfg.txt", "Music;/mnt/usb/music;My music\nDocs;/mnt/usb/docs;\n");
    if (csInitDatabase(nullptr, nullptr) != 0 || csDcerpcInit() != 0)
        std::abort();
    seed(true);
}

inline CSFile *open(const char *name)
{
    std::string path = std::string("\\") + name;
    CMWchar wide[32];
    cmAnsiToUnicodeN(wide, path.c_str(), 31);
    CSName *n = csGetNameByName(wide);
    if (!n)
        n = csGetNewName(wide, gUser->uid);
    CSFile *f = n ? csGetNewFile(gTree, n, 0) : nullptr;
    if (f && csDcerpcOpenPipe(wide + 1, f) != 1) {
        csReleaseFile(f->fid);
        return nullptr;
    }
    return f;
}

// Whatever the input left behind goes: the pipe, and any release it asked for.
inline void finish(CSFile *pipe)
{
    if (pipe && csGetFileByJustFid(pipe->fid) == pipe)
        csReleaseFile(pipe->fid);
    csDcerpcRunDeferredReleases();
}

}  // namespace fuzzpipe
