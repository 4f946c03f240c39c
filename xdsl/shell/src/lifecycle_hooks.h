// What start-up, exit and resident mode call of the parts around the
// command tree: the ADSL start-up settings, the profile store and the
// remote-tool service.
#pragma once

// profiles_save_all and free_vdsl_profiles_fun: the profile store.
#include "vdsl_profiles.h"

extern "C" {

// Reads the host name (CLI_HOSTNAME) and the ADSL settings; 0 or an errno value.
int init_adsl_settings(void);
// Serves the remote tool on TCP 5001 (remote_tool_service.cpp) until its
// socket cannot be set up or accepting fails.
int run_remote_tool_service(void);
}
