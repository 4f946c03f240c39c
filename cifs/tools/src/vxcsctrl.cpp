// vxcsctrl: one command word and its positional words become one call of the
// control channel to the running SMB server. A progress line, the command's
// own output, then the verdict; exit 0 after success, 255 after a failure.
#include "ctl_commands.h"

#include <cerrno>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        vxctl::printUsage();
        return 0;
    }
    const vxctl::Command *command = vxctl::findCommand(argv[1]);
    if (!command) {
        std::printf("  Command '%s' not found\n", argv[1]);
        return 255;
    }
    int found = argc - 2;
    if (found < command->minimum || found > command->maximum) {
        if (command->minimum == command->maximum)
            std::printf("  Unexpected number of parameters: expected - %d, found - %d\n", command->minimum,
                        found);
        else
            std::printf("  Unexpected number of parameters: expected  - %d to %d, found - %d\n",
                        command->minimum, command->maximum, found);
        return 255;
    }
    std::printf("  %s ...", command->description);
    // A call waits up to 5 s (30 s for stop and restart): show what it waits for.
    std::fflush(stdout);
    errno = 0;
    if (command->handler(found, argv + 2) != 0) {
        std::printf("\n failed: 0x%X\n", unsigned(errno));
        return 255;
    }
    std::printf("\n succeeded\n");
    return 0;
}
