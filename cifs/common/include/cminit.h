/* Start and stop of the common layer, once per process, under the NetBIOS
 * socket layer's mutex: mode 4 for the NetBIOS daemon (no security
 * descriptors, controller lookups, SPNEGO or buffer manager), any other
 * value for the full start. */
#ifndef CMINIT_H
#define CMINIT_H

#include "cmtypes.h"

#define CM_INIT_MODE_NETBIOS 4

/* 0, or -1 after "<step>() failed" on standard output with every step that
 * had started undone, newest first. */
VX_API int32_t cmInit(uint32_t mode);
VX_API void cmExit(uint32_t mode);

/* Testing: hook(name) is called before each start step and each undo or stop
 * call with its function's name; a nonzero answer for a start step makes that
 * step fail without running it. Null removes the hook. */
VX_API void cmInitSetStepHook(int (*hook)(const char *name));

#endif
