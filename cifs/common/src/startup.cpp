// The common layer's start and stop: one table of steps, each with the call
// that undoes it; a failed step is named once on standard output and the
// steps before it are undone, newest first.
#include "cminit.h"

#include "amspnego.h"
#include "cmbuffer.h"
#include "cmmemory.h"
#include "cmnetbios.h"
#include "cmpath.h"
#include "cmresolver.h"
#include "cmsd.h"
#include "cmselfip.h"
#include "cmthread.h"

#include <cstdio>
#include <string_view>

namespace {

enum class Success { NonZero, NotMinusOne, Untested };
// What the NetBIOS daemon's start (mode 4) does with a step.
enum class Mode4 { Run, Skip, End };

struct Step {
    const char *name;
    int (*start)();
    Success success;
    Mode4 mode4;
    const char *undoName;
    void (*undo)();
};

// In start order.
const Step kSteps[] = {
    {"cmMemoryStart", [] { return cmMemoryStart(0); }, Success::NonZero, Mode4::Run, "cmMemoryShutdown",
     cmMemoryShutdown},
    {"cmNetBiosInit", cmNetBiosInit, Success::NotMinusOne, Mode4::Run, "cmNetBiosExit", cmNetBiosExit},
    {"cmCifsInit", cmCifsInit, Success::NotMinusOne, Mode4::Run, "cmCifsExit", cmCifsExit},
    {"cmSdInit", cmSdInit, Success::NotMinusOne, Mode4::Skip, "cmSdExit", cmSdExit},
    {"cmSelfipStart", cmSelfipStart, Success::NonZero, Mode4::Run, "cmSelfipShutdown", cmSelfipShutdown},
    {"cmResolverStart", cmResolverStart, Success::NonZero, Mode4::Run, "cmResolverShutdown",
     cmResolverShutdown},
    {"cmThreadStart", cmThreadStart, Success::NonZero, Mode4::Run, "cmThreadShutdown", cmThreadShutdown},
    {"cmPortManageStart", cmPortManageStart, Success::NonZero, Mode4::Run, "cmPortManageShutdown",
     [] { cmPortManageShutdown(); }},
    {"cmFindDCInit", cmFindDCInit, Success::NotMinusOne, Mode4::End, "cmFindDCExit", cmFindDCExit},
    {"amSpnegoStart", amSpnegoStart, Success::NonZero, Mode4::End, "amSpnegoShutdown", amSpnegoShutdown},
    {"cmBufManStart", cmBufManStart, Success::Untested, Mode4::End, "cmBufManShutdown", cmBufManShutdown},
};

// Stop orders, by the names in the table.
const char *const kFullStop[] = {"cmBufManShutdown", "cmNetBiosExit",    "cmCifsExit",
                                 "cmSdExit",         "cmFindDCExit",     "cmResolverShutdown",
                                 "cmThreadShutdown", "cmSelfipShutdown", "cmPortManageShutdown",
                                 "amSpnegoShutdown", "cmMemoryShutdown"};
const char *const kNetBiosStop[] = {"cmNetBiosExit",    "cmCifsExit",       "cmResolverShutdown",
                                    "cmThreadShutdown", "cmSelfipShutdown", "cmPortManageShutdown",
                                    "cmMemoryShutdown"};

int (*gHook)(const char *) = nullptr;

bool hookFails(const char *name) { return gHook != nullptr && gHook(name) != 0; }

void runUndo(const char *name)
{
    for (const Step &s : kSteps) {
        if (std::string_view(s.undoName) == name) {
            hookFails(name);
            s.undo();
            return;
        }
    }
}

bool started(const Step &s)
{
    if (hookFails(s.name))
        return s.success == Success::Untested;
    int r = s.start();
    switch (s.success) {
    case Success::NonZero:
        return r != 0;
    case Success::NotMinusOne:
        return r != -1;
    case Success::Untested:
        return true;
    }
    return false;
}

}  // namespace

extern "C" {

int32_t cmInit(uint32_t mode)
{
    const bool netbios = mode == CM_INIT_MODE_NETBIOS;
    for (size_t i = 0; i < sizeof kSteps / sizeof kSteps[0]; ++i) {
        const Step &s = kSteps[i];
        if (netbios && s.mode4 == Mode4::End)
            return 0;
        if (netbios && s.mode4 == Mode4::Skip)
            continue;
        if (started(s))
            continue;
        std::printf("%s() failed\n", s.name);
        std::fflush(stdout);
        for (size_t j = i; j-- > 0;)
            runUndo(kSteps[j].undoName);
        return -1;
    }
    return 0;
}

void cmExit(uint32_t mode)
{
    if (mode == CM_INIT_MODE_NETBIOS) {
        for (const char *name : kNetBiosStop)
            runUndo(name);
        return;
    }
    for (const char *name : kFullStop)
        runUndo(name);
}

void cmInitSetStepHook(int (*hook)(const char *name)) { gHook = hook; }

}  // extern "C"
