// A share on a small folder tree for the fuzzers that reach files, two
// levels below guard files: a step outside the share shows as a guard gone
// or changed.
#pragma once
#include "cscreate.h"
#include "csdb.h"
#include "csdispatch.h"
#include "csfiles.h"
#include "csshares.h"
#include "cmstring.h"
#include "syfiles.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace fuzz_files {

struct Sandbox {
    std::string top, share;
    mode_t rootMode = 0;
    int socket = 0;
    uint32_t address = 0x0201A8C0;
    CSShare record{};
    CSTree *tree = nullptr;
    CSUser *user = nullptr;
};

inline Sandbox gBox;

inline void put(const std::string &path, const char *content)
{
    if (FILE *f = std::fopen(path.c_str(), "w")) {
        std::fputs(content, f);
        std::fclose(f);
    }
}

inline void guard()
{
    for (const char *level : {"/guard", "/a/guard"}) {
        std::string path = gBox.top + level;
        FILE *f = std::fopen(path.c_str(), "r");
        char text[8] = {};
        if (!f || !std::fgets(text, sizeof text, f) || std::strcmp(text, "guard") != 0) {
            std::fprintf(stderr, "a step outside the share changed %s\n", path.c_str());
            std::abort();
        }
        std::fclose(f);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 0777) != 0644)
            std::abort();
    }
    // Nor does the root's: a name that reaches it changes it (by hand, run
    // the fuzzers in tests/harness/throwaway_root, where "/" is a copy).
    struct stat root;
    if (::stat("/", &root) != 0 || root.st_mode != gBox.rootMode) {
        std::fprintf(stderr, "a step outside the share changed the mode of /\n");
        std::abort();
    }
    // The folders above the share keep their modes.
    for (const char *level : {"/a", "/a/b"}) {
        struct stat st;
        std::string path = gBox.top + level;
        if (::stat(path.c_str(), &st) != 0 || (st.st_mode & 07777) != 0755) {
            std::fprintf(stderr, "a step outside the share changed %s\n", path.c_str());
            std::abort();
        }
    }
}

// The share's files as each input finds them.
inline void refill()
{
    std::error_code removed, made, probed;
    std::filesystem::remove_all(gBox.share, removed);
    std::filesystem::create_directories(gBox.share + "/dir/sub", made);
    if (removed || made || !std::filesystem::is_directory(gBox.share + "/dir/sub", probed)) {
        std::fprintf(stderr, "cannot refill %s: %s / %s\n", gBox.share.c_str(), removed.message().c_str(),
                     made.message().c_str());
        std::abort();
    }
    put(gBox.share + "/file.txt", "content");
    put(gBox.share + "/tool.exe", "x");
    put(gBox.share + "/dir/inner.txt", "inner");
    // Links as a plugged-in disk may hold them, with names short enough to
    // be found: out to the guards' folder and to a guard, and one inside.
    // Following one out shows as a guard or a mode changed.
    std::error_code linked;
    std::filesystem::create_directory_symlink(gBox.top + "/a", gBox.share + "/u", linked);
    std::filesystem::create_symlink("../../../guard", gBox.share + "/g", linked);
    std::filesystem::create_directory_symlink("dir", gBox.share + "/i", linked);
}

// The folders alone: the share two levels below the guards, on a file system
// of the process's own mount namespace.
inline void makeFolders()
{
    char pattern[] = "/tmp/cs-fuzz-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    gBox.top = pattern;
    struct stat root;
    if (::stat("/", &root) != 0)
        std::abort();
    gBox.rootMode = root.st_mode;
    // A small file system of the fuzzer's own: a client may grow a file to
    // any size, which must not fill the machine's disk.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", pattern, "tmpfs", 0, "size=16m") != 0) {
        std::perror("file sandbox (run as root)");
        std::abort();
    }
    gBox.share = gBox.top + "/a/b/share";
    std::error_code error;
    std::filesystem::create_directories(gBox.share, error);
    put(gBox.top + "/guard", "guard");
    put(gBox.top + "/a/guard", "guard");
    ::chmod((gBox.top + "/guard").c_str(), 0644);
    ::chmod((gBox.top + "/a/guard").c_str(), 0644);
    ::chmod((gBox.top + "/a").c_str(), 0755);
    ::chmod((gBox.top + "/a/b").c_str(), 0755);
}

// The folders, and a user with a tree on the share of the database.
inline void setUp()
{
    makeFolders();
    syInit();
    csInitDatabase(nullptr, nullptr);
    csFnamesInit();
    cmAnsiToUnicode(gBox.record.path, gBox.share.c_str());
    cmAnsiToUnicode(gBox.record.name, "share");
    gBox.record.debugLevel = -1;
    csDispatchSetSocket(&gBox.socket);
    csDispatchSetSocketIp(&gBox.address);
    CSSession *session = csGetNewSession();
    gBox.user = session ? csGetNewUser(session) : nullptr;
    if (!gBox.user)
        std::abort();
    session->dialect = CS_DIALECT_SMB311;
    gBox.user->loggedOn = gBox.user->authenticated = 1;
    gBox.tree = csGetNewTree(gBox.user);
    if (!gBox.tree)
        std::abort();
    gBox.tree->share = &gBox.record;
}

// Closes what an input left open, so each starts alike.
inline void closeAll()
{
    while (CSFile *f = csGetFileByIndex(0))
        csReleaseFile(f->fid);
    for (uint16_t sid = 0; sid < CS_MAX_SEARCHES; ++sid)
        csReleaseSearch(sid);
}

}  // namespace fuzz_files
