// The running server's context as the control handlers reach it, and the
// two things only the server loop can do for them.
#include "csserver.h"

#include <cstdlib>

namespace {

CSServerContext *gContext;
void (*gEndLoop)(void);
void (*gDropAllClients)(void);

}  // namespace

extern "C" {

CSServerContext *csServerContextCreate(void)
{
    if (!gContext)
        gContext = static_cast<CSServerContext *>(std::calloc(1, sizeof(CSServerContext)));
    return gContext;
}

void csServerContextFree(void)
{
    std::free(gContext);
    gContext = nullptr;
}

CSServerContext *csGetServerContext(void) { return gContext; }

void csServerSetLoopHooks(void (*endLoop)(void), void (*dropAllClients)(void))
{
    gEndLoop = endLoop;
    gDropAllClients = dropAllClients;
}

void csServerEndLoop(void)
{
    if (gEndLoop)
        gEndLoop();
}

void csServerDropAllClients(void)
{
    if (gDropAllClients)
        gDropAllClients();
}

}  // extern "C"
