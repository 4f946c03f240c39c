// The control channel's server side on a seeded database: any datagram is
// answered within one message, and the tables stay consistent.
#include "control_wire.h"
#include "ud_test_env.h"
#include "csauth.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csserver.h"
#include "csshares.h"
#include "cmsd.h"
#include "cmstring.h"
#include "syfiles.h"
#include "udhooks.h"

#include <cstdlib>
#include <cstring>

namespace {

int gSockets[3];
uint32_t gAddresses[3] = {0x0501A8C0, 0x0601A8C0, 0x0701A8C0};

void seed()
{
    csInitDatabase(nullptr, nullptr);
    const char *names[] = {"bob", "guest", "carol"};
    for (int i = 0; i < 3; ++i) {
        csDispatchSetSocket(&gSockets[i]);
        csDispatchSetSocketIp(&gAddresses[i]);
        CSSession *s = csGetNewSession();
        CSUser *u = s ? csGetNewUser(s) : nullptr;
        if (!u)
            continue;
        s->dialect = CS_DIALECT_SMB311;
        cmAnsiToUnicode(u->name, names[i]);
        u->guest = i == 1;
        u->token.ridCount = 1;
        u->token.rids[0] = uint32_t(i + 1);
        CSTree *t = csGetNewTree(u);
        if (!t)
            continue;
        t->share = csGetShareByIndex(1);
        CMWchar path[32];
        cmAnsiToUnicode(path, i == 2 ? "/mnt/usb1/dir" : "/mnt/usb1/file");
        CSName *n = csGetNameByName(path);
        if (!n)
            n = csGetNewName(path, u->uid);
        if (CSFile *f = n ? csGetNewFile(t, n, 0) : nullptr)
            f->isDirectory = i == 2;
    }
    csDispatchSetSocket(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The hooks' files go to a /var/run of the fuzzer's own.
    if (!testenv::enterPrivateRun())
        std::abort();
    udInit();
    syInit();
    cmSdInit();
    csAuthInit();
    csServerContextCreate();
    testenv::writeFile(UD_CONFIG_DIR "cs_cfg.txt", "Music;/mnt/usb1/music;My music\n");
    testenv::writeFile(UD_CONFIG_DIR "pwd_list.txt",
                       "bob:00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff:1:0\n");
    seed();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static unsigned runs;
    if (++runs % 2000 == 0 || csGetSessionsCount() == 0)
        seed();
    uint8_t reply[CS_CTRL_MAX_MESSAGE];
    uint32_t length = 0;
    cs::ctrl::serve(data, uint32_t(size), reply, sizeof reply, &length);
    if (length < 4 || length > sizeof reply)
        std::abort();
    if (csGetFilesCount() > CS_MAX_FILES || csGetSharesCount() > CS_MAX_SHARES)
        std::abort();
    return 0;
}
