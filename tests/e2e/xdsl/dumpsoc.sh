#!/usr/bin/env bash
# "util dumpsoc" end to end: the real druvel against the driver's device
# host and the simulator, its several minutes of waits run TIME_WARP times
# faster. The dump's sections come in order, a reported overflow dumps the
# chip's memory window, and the terminal gets its output back at the end.
#   dumpsoc.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE TIME_WARP_LIB
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 warp_lib=$7

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.133 2.1.140)

start_chip --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin
/bin/cfgmgr -w "V_DISABLE_P1=#"

# The line stays in handshake; the memory window holds its own addresses.
bench hostcmd phase 0 > /dev/null
for ((a = 0x4c00; a < 0x4c00 + 2048; a += 512)); do bench fill x $a 512 $(( 0x5a0000 + a )) > /dev/null; done
bench poke x "${addr[2.1.133]}" 0x000002 > /dev/null     # the error buffer overflowed

# In clean mode, as support runs it: "firmver" shows its lines there.
echo "util dumpsoc 1" | ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  LD_PRELOAD="$warp_lib" TIME_WARP=100 "$druvel" clean > /tmp/terminal 2>&1 &
dump=$!
# One memory dump is enough: the overflow is cleared once the first file appears.
wait_file /tmp/dumpsoc.mem.1.txt 60
bench poke x "${addr[2.1.133]}" 0x000000 > /dev/null
rc=0
wait "$dump" || rc=$?
[ "$rc" = 0 ] || fail "dumpsoc answered $rc: $(cat /tmp/terminal)"

want=$'dumpsoc...\nplease wait for a while...\n\nDump soc successfully.'
got=$(sed -n '/^dumpsoc\.\.\.$/,/^Dump soc successfully\.$/p' /tmp/terminal)
[ "$got" = "$want" ] || fail "the terminal got: $(cat /tmp/terminal)"
if grep -q "dump tables" /tmp/terminal; then fail "dump lines on the terminal: $(cat /tmp/terminal)"; fi
log "the terminal has its output back: only the start and the end were shown there"

# Sections in order, each after the one before.
at=0
for heading in "#1 dump tables for config" "#1-1 disconnect vdsl :" "#1-2 dump tables for config :" \
  "Additional Mibs :" "FailureReason :" "#2 check ModemErrBuf" "#2-1 clear ModemErrBuf :" "#2-2 connect vdsl :" \
  "#2-3 check ModemErrBuff 60 times, once per second" "#3 dump soc :" "#3-1 disconnect vdsl :" \
  "#3-2 set CfgDisableRecovery = 0000fd..." "#3-3 connect vdsl :" "#3-4 dump loop, 90 second" \
  "#3-5 dump soc, need ~15 sec" "004c00,5a4c00" "0053ff,5a5200" "#3-6 clean CfgDisableRecovery as 000000" \
  "set CfgDisableRecovery = 000000" "#4 print information" "firmware version :" \
  "xDSLDriverVersion=1.7.9-37 - 201904102211" "#5 print showtime information" "#5-1 wait for showtime" \
  "#5-2 print scstatus" "Hlog :" "Port 1 not ShowTime" "QLN :" "SNR :" "Bitsalloc :" "Gainalloc :" "Status :" \
  "#5-3 G.inp config and status :" "wait for 30 sec to check again" "#5-2 print scstatus"; do
  n=$(awk -v after="$at" -v want="$heading" 'NR > after && $0 == want { print NR; exit }' /tmp/dumpsoc.txt)
  [ -n "$n" ] || fail "no \"$heading\" after line $at of the dump"
  at=$n
done
log "dump sections in order ($(wc -l < /tmp/dumpsoc.txt) lines)"

[ "$(grep -c '^ModemErrOvrflow : [0-9]* PhyStatus : 3$' /tmp/dumpsoc.txt)" -ge 1 ] || fail "no overflow readings"
[ "$(wc -l < /tmp/dumpsoc.mem.1.txt)" = 2048 ] || fail "memory file of $(wc -l < /tmp/dumpsoc.mem.1.txt) lines"
[ "$(head -1 /tmp/dumpsoc.mem.1.txt)" = 5a4c00 ] && [ "$(tail -1 /tmp/dumpsoc.mem.1.txt)" = 5a5200 ] ||
  fail "memory file: $(head -1 /tmp/dumpsoc.mem.1.txt) .. $(tail -1 /tmp/dumpsoc.mem.1.txt)"
[ "$(bench peek x "${addr[2.1.140]}")" = "ok 000000" ] || fail "recovery left disabled"
log "the overflow's memory window in dumpsoc.mem.1.txt; recovery enabled again"
echo PASS
