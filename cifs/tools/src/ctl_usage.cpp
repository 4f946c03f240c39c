// The text shown when the tool runs without a command; the plug-in's users
// and scripts know it as it is, spellings included.
#include "ctl_commands.h"

#include <cstdio>

namespace vxctl {

namespace {

const char *const kUsage[] = {
    "-- VX CIFS Server Control tool --",
    "Usage: vxcsctrl <command> <parameters>",
    "    where parameterers are positional per command as:",
    "    'S' - stop VX Server",
    "    'R' - restart VX Server",
    "    '+S \"<name>\" \"<local path>\" \"<description>\" [P]' - add new share",
    "        'P' for a printer share",
    "    'addfileshare <name> <path> [description]  - add new share",
    "    'addprintershare <name> <path> <statfile> <debuglevel> [description]  - add new printer share",
    "    'removeshare <name>'                       - remove share",
    "    '-S \"<name>\" ' - remove share",
    "    'ES' - enumerate shares",
    "    'setprinterowner <name> <state>'           - set owner for printer",
    "    '+U \"<name>\" \"<full name>\" \"<description>\" \"<password>\" [A]' - add new user",
    "        'A' gives new user administrative rights",
    "    '-U \"<name>\" ' - remove user",
    "    'adduser <name> <password> [full name] [description]' - add new user",
    "    'removeuser  <name>'                       - remove user",
    "    'C  \"<name>\" [D]' - close user connections",
    "        'D' for domain user",
    "    'EU' - enumerate users",
    "    'EC' - enumerate clients",
    "    'EF' - enumerate files",
    "    'SEL <encryption level>'- set encryption level",
    "    'MSG <newPolicy>  - set message signing policy",
};

}  // namespace

void printUsage()
{
    for (const char *line : kUsage)
        std::printf("%s\n", line);
}

}  // namespace vxctl
