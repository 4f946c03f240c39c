// What start-up, exit and resident mode call of the parts around the
// command tree: the ADSL start-up settings, the profile store and the
// remote-tool service.
#pragma once

extern "C" {

// Reads the host name (CLI_HOSTNAME) and the ADSL settings; 0 or an errno value.
int init_adsl_settings(void);
// Saves every changed profile type; -111 when the store was never loaded.
int profiles_save_all(void);
// Frees every profile record.
void free_vdsl_profiles_fun(void);
// Serves the remote tool until its socket cannot be set up or accepting fails.
int run_remote_tool_service(void);

}
