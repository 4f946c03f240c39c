#!/usr/bin/env bash
# SELT end to end: calibration of both line ends and a measurement on the
# simulator, whose status entry hands out the result ranges reading after
# reading; the dumps, the parser's exact argument vector, and the results.
#   selt.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6

"$mkimage" /tmp/bindrv.bin /tmp/chip-setup > /dev/null
start_chip --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin
bench hostcmd phase 100 > /dev/null
# The firmware takes a command at once, as the shell's first status poll,
# right after the go, expects: a run's old status is gone by then.
bench hostcmd delay 0 > /dev/null
bench selt flags 0x001018 > /dev/null   # UER bits 3-4, QLN bit 12

shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
has() { grep -qxF -- "$1" <<< "$out" || fail "no line \"$1\" in: $out"; }
# dump_of MEM START COUNT: a range as the dump writes it.
dump_of() {
  python3 -c '
import sys
mem, start, count = sys.argv[1], int(sys.argv[2], 0), int(sys.argv[3])
base = 0x5F0000 if mem == "Y" else 0x5E0000
print("#%s:%04x" % (mem, start))
for a in range(start, start + count):
    print("%06x" % (base | a))' "$@"
}

# The parser (the SELT_PARSER default) logs its arguments and writes results.
cat > /tmp/Selt <<'EOF'
#!/bin/sh
printf '%s\n' "$@" > /tmp/parser.argv
while [ $# -gt 1 ]; do
  [ "$1" = -r ] && printf 'seltTestParaLoopLength=1234\nseltTestParaLoopTermin=open\n' > "$2"
  shift
done
EOF
chmod +x /tmp/Selt

shell "util selt selt-test 1 0"
[ "$rc" = 1 ] || fail "a measurement without calibration did not fail: $out"   # the one-shot's failure
has "error: no calibrate.open.txt file"
[ ! -e /tmp/parser.argv ] || fail "the parser ran without calibration"

shell "util selt calibrate 1 1"
[ "$rc" = 0 ] || fail "calibrate open answered $rc: $out"
has "selt status become DONE"
has "start address = 0x005200, length = 12"
[ "$(cat /tmp/calibrate.open.txt)" = "$(dump_of X 0x5200 12)" ] || fail "open calibration: $(cat /tmp/calibrate.open.txt)"
shell "util selt calibrate 1 2"
[ "$(cat /tmp/calibrate.closed.txt)" = "$(dump_of X 0x5200 12)" ] || fail "closed calibration dump"
log "both line ends calibrated"

shell "util selt selt-test 1 1"
[ "$rc" = 0 ] || fail "selt-test answered $rc: $out"
has "start address = 0x005000, length = 16"
has "start address = 0x005100, length = 8"
has "start address = 0x006000, length = 4"
[ "$(cat /tmp/seltDate.txt)" = "$(dump_of X 0x5000 16; dump_of X 0x5100 8; dump_of Y 0x6000 4)" ] ||
  fail "measurement dump: $(cat /tmp/seltDate.txt)"
want="-o
/tmp/calibrate.open.txt
-c
/tmp/calibrate.closed.txt
-i
/tmp/seltDate.txt
-x
/tmp/xfr.data
-r
/tmp/seltMIB.raw
-l
/tmp/selt.log"
[ "$(cat /tmp/parser.argv)" = "$want" ] || fail "the parser got: $(cat /tmp/parser.argv)"
shell "util selt show 1 seltTestParaLoopLength"
has "Value = 1234"
shell "util selt show 1 seltTestParaUerStatus"
has "Value = 1"
log "measurement: three ranges dumped, the parser's exact argv, its results shown, the status reset"

# Until a measurement resets it, the status word tells the last run's state.
shell "util selt calibrate 1 1"
shell "util selt show 1 seltTestParaUerStatus"
has "Value = 2"
shell "util selt show 1 seltTestParaQlnStatus"
has "Value = 3"
log "the status word's UER and QLN bits read through the image's SELT entry"

# A configured path is one argument, never shell text.
/bin/cfgmgr -w 'SELT_LOG=/tmp/x;touch /tmp/injected'
shell "util selt selt-test 1 1"
[ "$(tail -1 /tmp/parser.argv)" = "/tmp/x;touch /tmp/injected" ] || fail "log path: $(tail -1 /tmp/parser.argv)"
[ ! -e /tmp/injected ] || fail "a path ran as a command"
log "a path with shell text reaches the parser as one argument"
echo PASS
