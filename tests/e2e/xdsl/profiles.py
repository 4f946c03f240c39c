#!/usr/bin/env python3
"""The profile store end to end: the real druvel with the configuration
manager stand-in and a generated firmware package, saving at quit, at the
end of silent input and on SIGINT, and reloading in a new shell.

usage: profiles.py DRUVEL CFGMGR NSRUN MKPACKAGE
"""
import os
import subprocess
import sys
import time

from druvel_e2e import Scenario, Terminal

s = Scenario(sys.argv[:4])
mkpackage = os.path.abspath(sys.argv[4])
pkg = s.path("firmware_package.b")
subprocess.run([mkpackage, pkg, "--profile", "SYS_first", "0.9.1=000001", "--profile", "SYS_second",
                "0.9.1=000002", "--profile", "BND_b1", "0.9.35=40", "--profile", "VNS_v1", "0.9.27=000001",
                "--profile", "PSD_p1", "0.10.14=5003e8", "--profile", "RFI_r1", "0.9.5=000001",
                "--profile", "DPB_d1", "0.9.36=000001"], check=True)
files = [("/lib/firmware/firmware_package.b", pkg)]


def stored():
    keys = {}
    try:
        with open(s.path("store")) as f:
            for line in f:
                k, _, v = line.rstrip("\n").partition("=")
                keys[k] = v
    except FileNotFoundError:
        pass
    return keys


# A new line profile gets the package's first system profiles; the setters
# store hex texts; quit saves.
rc, out, _ = s.run(["clean"], files=files, stdin=(
    b"profiles line-profile new lp1\n"
    b"profiles line-profile set targetSnrmDs lp1 310\n"
    b"profiles line-profile set targetSnrmDs lp1 311\n"
    b"profiles line-profile set maxNomPsdDs lp1 -300\n"
    b"quit\n"))
s.equal("clean mode ends at quit", rc, 0)
s.contains("311 prints the usage", out, "Usage: cmd <profile_name> <value-dec>\nvalue:0-310\n")
keys = stored()
record = keys.get("VdslLineProfiles1", "")
values = record.split("@")
s.equal("the record holds the name and 54 values", len(values), 55)
s.equal("sub-profiles are the package's first of each kind", values[:8],
        ["lp1", "first", "b1", "v1", "p1", "r1", "d1", "ff"])
s.equal("targetSnrmDs 310 is stored as 136", values[8], "136")
s.equal("maxNomPsdDs -300 is stored as fffed4", values[49], "fffed4")
s.equal("the index key", keys.get("LINE_PROFILE_INDEX"), "1")

# A new shell reloads it.
rc, out, _ = s.run(["show line-profile lp1"], files=files)
s.equal("a new shell shows the stored profile", rc, 0)
s.contains("... with its stored margin", out, "targetSnrmDs                  |310 ")
s.contains("... and PSD limit", out, "maxNomPsdDs                   |-300 ")

# A stored record of 53 values is refused alone; the good one stays.
s.store("LINE_PROFILE_INDEX", "1@2")
s.store("VdslLineProfiles2", "short" + "@1" * 53)
rc, out, _ = s.run(["show line-profile"], files=files)
s.contains("the short record is refused", out,
           "VdslLineProfiles config file isn't match!!!! argument too less!!\n"
           "VdslLineProfiles need 54 token but config file have 53 token\n")
s.contains("the good record is still listed", out, "xDSL Line Profile:\nlp1\n")
s.check("the short one is not", "\nshort\n" not in out, out)

# Silent mode saves at the end of its input.
rc, out, _ = s.run(["silent"], files=files, stdin=b"profiles chan-profile new c1\n")
s.equal("silent mode ends at the end of input", (rc, out), (0, ""))
s.check("the channel profile was saved", stored().get("VdslChanProfiles1", "").startswith("c1@100@100@"),
        str(stored()))

# SIGINT in an interactive shell on a pty: message, save, status 2.
s.store("CLI_HOSTNAME", "router")
t = Terminal(s, [])
try:
    s.check("the interactive shell prompts", t.read_until("router>") is not None)
    t.send("profiles alarm-template new a1\r")
    s.check("the command ran", t.read_until("router>") is not None)
    t.send("\x03")
    s.contains("Ctrl-C is caught", t.read_until("SIGINT\r\n") or "", "Catch signal #2: SIGINT\r\n")
    s.equal("exit status after SIGINT", t.wait(), 2)
finally:
    t.close()
s.equal("the alarm template was saved on SIGINT", stored().get("VdslAlarmTemplates1"), "a1@DEFVAL@DEFVAL")

# SIGINT in silent mode, with input still open: the same handler, a save, status 2.
script = ("mkfifo /tmp/in; \"$DRUVEL\" silent < /tmp/in & pid=$!; exec 3> /tmp/in; "
          "echo 'profiles line-alarm-profile new la1' >&3; "
          "for i in $(seq 100); do grep -q VdslLineAlarmProfiles ${CFGMGR_LOG} 2> /dev/null && break; "
          "grep -q LINE_ALARM_PROFILE_INDEX ${CFGMGR_LOG} && break; sleep 0.05; done; sleep 0.2; "
          "kill -INT $pid; wait $pid; echo status=$?")
rc, out, _ = s.run(files=files, shell=script)
s.contains("silent mode catches SIGINT", out, "Catch signal #2: SIGINT\n")
s.contains("... and ends with 2", out, "status=2")
s.check("the line alarm profile was saved on SIGINT",
        stored().get("VdslLineAlarmProfiles1", "").startswith("la1@0@"), str(stored()))

# SIGBUS sent to a silent shell: the same save, status 0.
rc, out, _ = s.run(files=files, shell=script.replace("-INT", "-BUS").replace("la1", "la2"))
s.contains("silent mode catches SIGBUS", out, "Catch signal #7: SIGBUS\n")
s.contains("... and ends with 0", out, "status=0")
s.check("the second line alarm profile was saved on SIGBUS",
        stored().get("VdslLineAlarmProfiles2", "").startswith("la2@0@"), str(stored()))

s.finish()
