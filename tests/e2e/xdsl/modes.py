#!/usr/bin/env python3
"""druvel's start-up modes, exit codes, banner, usage text and prompts."""
import sys

from druvel_e2e import Scenario

s = Scenario(sys.argv)
usage = ("\nInvalid option or command or script file \"{arg}\" was not found.\n\n"
         "druvel - The xDSL Configuration Shell utility.\n"
         "Usage: {prog} [option]\n\n"
         "Options:\n"
         "  clean    - Reset internal state to default values.\n"
         "             Does not change the system state.\n"
         "  setup    - Setup system on boot from configuration file.\n"
         "  silent   - Work normally, but don't display prompt.\n"
         "             Good for use from scripts.\n"
         "  static   - Work statically, and don't change command level.\n"
         "             Classical tarvik mode.\n"
         "  resident - Work residently, and don't display prompt.\n"
         "             Can be used for background residence.\n"
         "  script_filename - Execute scripted commands one by one.\n"
         "             Good for running batch commands.\n")
banner = (f"{s.druvel} for quorin - 1.7.9-37, Maketime:201904102211, "
          "Header rev: 080516_161934_1_50_4_66_2_2\n")

# One-shot: an unknown command prints "No such command." and the usage, exit 1.
rc, out, _ = s.run(["show foo"])
s.equal("one-shot 'show foo' exits 1", rc, 1)
s.equal("one-shot 'show foo' output", out, "No such command.\n" + usage.format(arg="show foo", prog=s.druvel))

rc, out, _ = s.run(["help quit"])
s.equal("one-shot success exits 0", rc, 0)
s.equal("one-shot success output, no banner", out, "quit             - Exit this CLI session\n")

rc, out, _ = s.run(["util dumpsoc"])
s.equal("dumpsoc without a port is no failure of the one-shot", rc, 0)
s.equal("... and prints its usage", out, "Usage:cmd <portid>\n")

# Two arguments: the first is a file, else one command; mode words are not tried.
rc, out, _ = s.run(["setup", "extra"])
s.equal("'setup extra' runs 'setup' as a command", rc, 1)
s.check("... and prints the usage", out.startswith("No such command.\n\nInvalid option") and '"setup"' in out, out)

rc, out, _ = s.run(["resid"])
s.equal("'resid' selects no mode", rc, 1)

# silentX selects silent mode: nothing shown, end of input ends with 0.
rc, out, _ = s.run(["silentX"], stdin=b"help\nshow foo\n")
s.equal("silent mode exits 0 at end of input", rc, 0)
s.equal("silent mode shows nothing", out, "")
rc, out, _ = s.run(["silent"], stdin=b"help\nquit\nhelp\n")
s.equal("silent mode ends at quit", (rc, out), (0, ""))

# Resident mode shows nothing; with its port taken the service ends at
# once, and so does the program.
rc, out, _ = s.run(shell="python3 -c 'import os, socket, subprocess, sys\n"
                   "s = socket.socket(); s.bind((\"\", 5001)); s.listen()\n"
                   "sys.exit(subprocess.call([os.environ[\"DRUVEL\"], \"resident\"]))'")
s.equal("resident mode output", (rc, out), (0, ""))

# Interactive mode on a pipe: banner, prompts with the directory path.
s.store("CLI_HOSTNAME", "router")
rc, out, _ = s.run([], stdin=b"profiles line-profile set\nexit\nhome\nquit\n")
s.equal("interactive ends with 0 after quit", rc, 0)
s.contains("banner", out, banner)
s.contains("argument line", out, f"argc = 1, argv[0] = {s.druvel}, argv[1] = (none)\n")
s.contains("prompt with the path", out, "router>profiles line-profile set\nrouter (profiles line-profile set)>exit\n"
           "router (profiles line-profile)>home\nrouter>quit\n")

# Static mode: back at the root after every line.
rc, out, _ = s.run(["static"], stdin=b"profiles\nhelp quit\n")
s.equal("static mode exits 0 at end of input", rc, 0)
s.contains("static prompt back at the root", out,
           "router>profiles\nrouter>help quit\nquit             - Exit this CLI session\nrouter>")

# Clean mode shows the start-up trace as well.
rc, out, _ = s.run(["clean"], stdin=b"")
s.contains("clean mode shows the trace level", out, "Initialize ADSL settings\n")
s.check("interactive mode hides the trace level", "Initialize ADSL settings" not in s.run([], stdin=b"")[1])

# A host name longer than the prompt keeps is cut, not overrun.
s.store("CLI_HOSTNAME", "h" * 200)
rc, out, _ = s.run([], stdin=b"")
s.contains("long host name cut to 63 characters", out, "h" * 63 + ">")
s.check("... and no longer", "h" * 64 not in out, out[-200:])

s.finish()
