// The control tool's commands: one table row per keyword, its handler and
// the parameter counts the main flow checks before calling it.
#ifndef CIFS_TOOLS_CTL_COMMANDS_H
#define CIFS_TOOLS_CTL_COMMANDS_H

namespace vxctl {

// A handler gets the parameter words after the keyword and returns 0, or
// non-zero with errno saying why (the server's status, the client's code,
// or EINVAL for words the tool refuses itself).
using Handler = int (*)(int count, char **words);

struct Command {
    const char *description;
    const char *keyword;
    Handler handler;
    int minimum;
    int maximum;
};

// The table in search order; the first row whose keyword matches wins.
const Command *findCommand(const char *keyword);

// The four enumerations (ctl_enumerate.cpp).
int enumerateShares(int count, char **words);
int enumerateUsers(int count, char **words);
int enumerateClients(int count, char **words);
int enumerateFiles(int count, char **words);

// The usage text, written to standard output (ctl_usage.cpp).
void printUsage();

}  // namespace vxctl

#endif
