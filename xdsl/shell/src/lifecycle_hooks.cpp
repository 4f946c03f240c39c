// What resident mode needs until the remote-tool service arrives.
#include "lifecycle_hooks.h"

#include <cstdio>
#include <cstring>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"

extern "C" int run_remote_tool_service(void)
{
    std::fputs("druvel: the remote-tool service is not available in this build\n", stderr);
    return -1;
}
