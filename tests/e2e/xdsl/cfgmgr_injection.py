#!/usr/bin/env python3
"""Configuration keys and values never pass through a shell."""
import shlex
import sys

from druvel_e2e import Scenario

s = Scenario(sys.argv)

# A stored value full of shell syntax comes back as text and runs nothing.
s.store("CLI_HOSTNAME", "a;touch /tmp/x")
s.store("NOTE", "$(touch /tmp/y) `touch /tmp/z`")
rc, out, _ = s.run(shell='"$DRUVEL" ' + shlex.quote("help $NOTE$ x") +
                   '; "$DRUVEL" clean < /dev/null > /dev/null; ls /tmp; /bin/cfgmgr -r CLI_HOSTNAME')
s.contains("expanded value shown as text", out, "help $(touch /tmp/y) `touch /tmp/z` x\nNo help for such command.\n")
s.check("no file appeared in /tmp", not any(n in out.split("\n") for n in ("x", "y", "z")), out)
s.contains("value kept whole", out, "a;touch /tmp/x\n")
log = s.argv_log()
s.contains("the key reached cfgmgr as one argument", log, '"-r" "NOTE"\n')
s.contains("host name read as one argument", log, '"-r" "CLI_HOSTNAME"\n')

# A $KEY$ whose name holds shell syntax is refused before anything runs.
before = s.argv_log()
rc, out, _ = s.run(shell='"$DRUVEL" ' + shlex.quote("help $a;touch /tmp/x$") + '; echo "status $?"; ls /tmp')
s.contains("bad variable name refused", out, "Variable name \"a;touch /tmp/x\" refused: only letters, digits and '_'.\n")
s.contains("one-shot fails", out, "status 1\n")
s.check("no file appeared", "\nx\n" not in out and not out.endswith("x\n"), out)
s.check("cfgmgr was not asked", s.argv_log()[len(before):].count("touch") == 0, s.argv_log())

# An expansion that would not fit the command buffer is refused, not cut.
s.store("BIG", "v" * 250)
rc, out, _ = s.run(["help $BIG$ $BIG$ $BIG$"])
s.equal("over-long expansion fails", rc, 1)
s.contains("and says why", out, "Command line too long after variable expansion (at most 511 characters).\n")

# A value of 255 characters is the longest the shell takes; 256 is refused.
s.store("FULL", "f" * 255)
s.store("OVER", "o" * 256)
rc, out, _ = s.run(["help $FULL$"])
s.contains("255 characters expand", out, "help " + "f" * 255 + "\n")
rc, out, _ = s.run(["help $OVER$"])
s.equal("256 characters fail", rc, 1)
s.contains("and say why", out, "Value of variable OVER too long (at most 255 characters).\n")

# shellscript hands each expanded value to sh as one argument of the
# script, never as shell syntax: a stored "x; touch" plants nothing.
s.store("SCRIPTARG", "x; touch /tmp/p $(touch /tmp/q)")
script = s.write("args.sh", 'for a in "$@"; do echo "arg<$a>"; done\n')
rc, out, _ = s.run(shell='"$DRUVEL" ' + shlex.quote("shellscript " + script + " $SCRIPTARG$ last") + '; ls /tmp')
s.contains("the value arrived as one argument", out, "arg<x; touch /tmp/p $(touch /tmp/q)>\narg<last>\n")
s.check("nothing was run from it", not any(n in out.split("\n") for n in ("p", "q")), out)

s.finish()
