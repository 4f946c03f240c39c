// What exit and resident mode need until the profile store and the
// remote-tool service arrive.
#include "lifecycle_hooks.h"

#include <cstdio>
#include <cstring>

#include "cfgmgr_access.h"
#include "cli_command.h"
#include "cli_print.h"

extern "C" int profiles_save_all(void)
{
    return CLI_USAGE;  // nothing was ever loaded
}

extern "C" void free_vdsl_profiles_fun(void)
{
}

extern "C" int run_remote_tool_service(void)
{
    std::fputs("druvel: the remote-tool service is not available in this build\n", stderr);
    return -1;
}
