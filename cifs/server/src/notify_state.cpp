// The change-notification state's life; the SMB2 core keeps its own part.
#include "csserver.h"

#include <new>

namespace {

struct NotifyState {
    uint32_t counters[3];
};

NotifyState *gNotify;

}  // namespace

extern "C" {

int csNotifyInit(void)
{
    if (!gNotify)
        gNotify = new (std::nothrow) NotifyState{};
    if (!gNotify)
        return -1;
    return cs2NotifyInit() == 0 ? 0 : -1;
}

void csNotifyExit(void)
{
    delete gNotify;
    gNotify = nullptr;
    cs2NotifyExit();
}

}  // extern "C"
