#!/usr/bin/env bash
# One line walked end to end: the chip booted from the firmware package with
# dpf, a line template applied, "show status" in showtime, and the remote
# tool reading MIB entries while a script shell runs beside it.
#   walk_line.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE MKPACKAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 mkpackage=$7
here=$(cd "$(dirname "$0")" && pwd)

declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.9 0.9.16)
mount -t tmpfs tmpfs /lib/firmware
"$mkpackage" /lib/firmware/firmware_package.b --default 1 --bindrv /tmp/bindrv.bin \
  --image-setup /tmp/chip-setup --image-setup /tmp/chip-setup \
  --profile SYS_first 2.1.9=000001 --profile BND_b1 0.9.35=40 --profile VNS_v1 0.9.27=000003 \
  --profile PSD_p1 0.10.14=5003e8 --profile RFI_r1 0.9.5=000004 --profile DPB_d1 0.9.36=000005

start_chip --setup /tmp/chip-setup   # held in its boot loader
start_devhost
/bin/cfgmgr -w "EBM_BOOT_IF_P1=$mgt"
/bin/cfgmgr -w "V_POWEROFF_P1=#"

shell() { rc=0; out=$(printf '%s\n' "$@" | "$druvel" clean 2>&1) || rc=$?; }
has() { grep -qF -- "$1" <<< "$out" || fail "no \"$1\" in: $out"; }

shell "util mgt-iface 1 $mgt" "util dpf 1 1"
[ "$(bench state)" = "ok running" ] || fail "dpf left the chip $(bench state): $out"
log "dpf booted the chip from the package"

shell "profiles line-template new T" "profiles line-profile new L" "profiles chan-profile new C" \
  "profiles line-template set line-profile T L" "profiles line-template set chan-profile T C" \
  "profiles line-profile set targetSnrmDs L 90" "profiles port set line-template 1 T" quit
[ "$(bench peek x "${addr[0.9.16]}")" = "ok 00005a" ] || fail "template left 0.9.16 at $(bench peek x "${addr[0.9.16]}"): $out"
log "line template applied: targetSnrmDs 90 on the chip"

bench hostcmd phase 150 > /dev/null
expect_result 0 0x7605 --size 64
showtime() { req 0x7614 --size 64 --show 1; [ "$answer" = 05 ]; }
wait_until 10 showtime || fail "no showtime (state $answer)"
/bin/cfgmgr -w "V_DISABLE_P1=#"   # the port is enabled
shell "show status 1"
has "Status (Basic) of Line 1: Showtime"
log "show status in showtime"

"$druvel" resident > /dev/null 2> /tmp/druvel-err &
on_exit kill $!
wait_port tcp 5001 5
bench poke x "${addr[2.1.9]}" 0x00abcd > /dev/null
for _ in $(seq 40); do echo "interface xdsl show oid 1 2.1.9"; done > /tmp/script.cli
"$druvel" clean < /tmp/script.cli > /tmp/script.out 2>&1 & script=$!
PYTHONPATH=$here python3 - <<'PY' || fail "remote reads beside the script shell failed"
from remote_tool_client import connect
t = connect()
for _ in range(200):
    got = t.read_mib(1, "2.1.9")
    assert got == b"\x00\x08\x0000abcd\x00", got
t.end()
PY
wait "$script" || fail "the script shell failed: $(tail /tmp/script.out)"
[ "$(grep -c 'MIB2 value: 00abcd' /tmp/script.out)" = 40 ] || fail "script shell read: $(sort /tmp/script.out | uniq -c)"
if grep -q Sanitizer /tmp/druvel-err; then fail "sanitizer report: $(cat /tmp/druvel-err)"; fi
log "200 remote-tool reads beside 40 script-shell reads, all answered"
echo PASS
