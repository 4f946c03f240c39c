// Host name and prompt.
#include <cstdio>
#include <cstring>

#include "cli_command.h"

namespace {

char hostname[CLI_HOSTNAME_SIZE];
char prompt[CLI_PROMPT_SIZE] = ">";

}  // namespace

extern "C" void cli_set_hostname(const char *name)
{
    // Longer names are cut to what the prompt keeps.
    std::snprintf(hostname, sizeof hostname, "%s", name ? name : "");
}

extern "C" const char *cli_hostname(void) { return hostname; }

extern "C" const char *cli_prompt(void) { return prompt; }

extern "C" void build_prompt(void) { std::snprintf(prompt, sizeof prompt, "%s%s", hostname, ">"); }

extern "C" void set_dir_prompt(const char *label)
{
    std::snprintf(prompt, sizeof prompt, "%s %s%s", hostname, label, ">");
}
