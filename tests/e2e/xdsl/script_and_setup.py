#!/usr/bin/env python3
"""Script files, the setup replay of /etc/system.conf and the script command."""
import sys

from druvel_e2e import Scenario

s = Scenario(sys.argv)

# Script mode echoes each line raw; everything else is hidden by its mask of 0.
script = s.write("lines.cli", "help quit\nprofiles\nline-profile\nquit\nhelp\n")
rc, out, _ = s.run([script])
s.equal("script mode exit status", rc, 0)
s.equal("script mode echoes its lines up to quit", out, ">>help quit\n>>profiles\n>>line-profile\n>>quit\n")

# Over-long lines are refused whole: their tail never runs as a line.
long_line = "help " + "x" * 5000 + " quit\n"
script = s.write("long.cli", long_line + "help quit\n")
rc, out, _ = s.run([], stdin=f"script {script}\nquit\n".encode())
s.contains("long script line refused", out, "Line too long (at most 4095 characters): not run.\n")
s.contains("the next line still runs", out, ">>help quit\n\nquit             - Exit this CLI session\n")
s.check("no part of the long line ran", "No help for such command." not in out, out)

# A file without line ends (a device) is given up after a bound, in script
# mode and through the script command alike.
rc, out, _ = s.run(["/dev/zero"], timeout=20)
s.equal("script mode returns from /dev/zero, silently", (rc, out), (0, ""))
rc, out, _ = s.run([], stdin=b"script /dev/zero\nhelp quit\n", timeout=20)
s.contains("the script command returns from /dev/zero", out, "the rest is not read.\n")
s.contains("and the shell goes on", out, "quit             - Exit this CLI session\n")

# Setup mode without /etc/system.conf: message, status 1, nothing else.
rc, out, _ = s.run(["setup"])
s.equal("setup without /etc/system.conf", (rc, out),
        (1, "Failed to open config file No such file or directory\n"))

# Setup mode replays the file without echo, under the setup mask.
conf = s.write("system.conf", "# boot settings\n\nhelp quit\nshow foo\nsave\nquit\nhelp save\n")
rc, out, _ = s.run(["setup"], files=[("/etc/system.conf", conf)])
s.equal("setup exit status", rc, 0)
s.contains("setup banner", out, " for quorin - 1.7.9-37")
s.check("setup output", out.endswith("Setup executing...\nquit             - Exit this CLI session\n"
                                     "No such command.\nConfiguration saved\n"), out)

# The script command from the terminal, and "quit" inside it ends the shell.
script = s.write("inner.cli", "profiles\nhelp quit\nquit\nhelp save\n")
rc, out, _ = s.run([], stdin=f"script {script}\nhelp\n".encode())
s.equal("script command ending in quit ends the shell", rc, 0)
s.contains("script command echoes through the printer", out,
           f"Running script {script}:\n>>profiles\n\n>>help quit\n\nquit             - Exit this CLI session\n"
           ">>quit\n\n")
s.check("nothing after quit ran", "save             -" not in out and "Help display" not in out, out)

# shellscript hands the named file and its words to the shell.
marker = s.path("ran")
sh = s.write("run.sh", f'echo "$1" > {marker}\n')
rc, out, _ = s.run([f"shellscript {sh} hello"])
s.equal("shellscript one-shot status", rc, 0)
try:
    with open(marker) as f:
        s.equal("shell script ran with its argument", f.read(), "hello\n")
except FileNotFoundError:
    s.check("shell script ran", False)

s.finish()
