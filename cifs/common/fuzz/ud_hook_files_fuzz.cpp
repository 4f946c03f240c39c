// The host hooks reading files that others wrote: users, shares, mounts,
// domain settings and share descriptors, then a rewrite of each. The first
// byte picks the file; the rest is its content. Runs in a private mount
// namespace so that /var/run/cifs/ is the fuzzer's own.
#include "udhooks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <sys/mount.h>

namespace {

const char *const kFiles[] = {"pwd_list.txt", "cs_cfg.txt", "cc_cfg.txt", "cm_cfg.txt", "share_sd.txt"};

const CMWchar kName[] = {'a', 0};
const CMWchar kShare[] = {'M', 'u', 's', 'i', 'c', 0};
const CMWchar kPath[] = {'/', 'm', 'n', 't', 0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/var/run", "tmpfs", 0, "mode=0755") != 0) {
        std::fprintf(stderr, "needs root for a private /var/run\n");
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (udInit() != 0)
        std::abort();
    std::string path = std::string(UD_CONFIG_DIR) + kFiles[data[0] % 5];
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }

    CMWchar a[UD_SHARE_PATH_SIZE], b[UD_SHARE_PATH_SIZE], c[UD_SHARE_PATH_SIZE];
    int32_t rid = 0;
    int flag = 0;
    uint8_t out[512];
    uint32_t users = udGetUserCount();
    for (uint32_t i = 0; i < users && i < 64; ++i)
        udGetUserInfo(i, &rid, &flag, a, b, c);
    udGetPassword(kName, out, &flag, &rid);
    udCreateUser(kName, nullptr, nullptr);
    udSetUserAsAdministrator(1, 1);

    for (int i = 0; i < 1000 && udGetNextShare(a, b, &flag, c) == 1; ++i) {
    }
    udSaveShareInformation(kShare, kShare, kPath, kName);
    udRemoveShare(kName);
    for (int i = 0; i < 1000 && udGetNextMount(a, b) == 1; ++i) {
    }

    udGetWins();
    udGetScopeID(a);
    udLoadShareSecurityDescriptor(kName, out, sizeof out);
    udSaveShareSecurityDescriptor(kName, out, 16);
    udStop();
    return 0;
}
