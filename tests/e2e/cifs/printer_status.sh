#!/usr/bin/env bash
# vxcs with vxnd and the fake USB printer driver preloaded, in a namespace of
# its own: printer shares through the control tool, the status file that the
# 5 s update writes and follows, a printer that is absent, four printers at
# most, a device path that does not fit refused, and the status file gone
# with its share.
set -euo pipefail
vxcs=$1 vxnd=$2 ctl=$3 usblp=$4
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns

work=$(mktemp -d)
mkdir -p /var/run/cifs /var/run/usblp
: > /var/run/cifs/cs_cfg.txt
control=/var/run/usblp/control
printer_line() { # DEVICE STATUS VID
  printf '%s %s %s:0001 %s MFG:Acme;MDL:Laser %s;CMD:PCL;\n' "$1" "$work/$(basename "$1").out" "$3" "$2" "$1"
}
{
  printer_line /dev/usb/lp0 0x18 1234
  printer_line /dev/usb/lp1 absent 1234
  printer_line /dev/usb/lp2 0x00 04e8
  printer_line /dev/usb/lp3 0x98 1234
} > "$control"

"$vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
on_exit quiet_kill $!
wait_line "$work/vxnd.log" "VXND: server is ready"

# A sanitized server takes its runtime first, then the fake driver.
asan=$(ldd "$vxcs" | awk '/libasan/ {print $3}')
LD_PRELOAD="${asan:+$asan:}$usblp" "$vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
server=$!
on_exit quiet_kill "$server"
wait_line "$work/vxcs.log" "VXCS: server is ready"

add() { "$ctl" addprintershare "$1" "$2" "/var/run/cifs/$1.status" 2 "$1 printer" > /dev/null; }
status_is() { [ "$(cat "$1" 2> /dev/null)" = "$2" ]; }

add Laser /dev/usb/lp0
wait_until 7 status_is /var/run/cifs/Laser.status 00000018 ||
  fail "Laser.status: [$(cat /var/run/cifs/Laser.status 2> /dev/null)]"
log "ready printer: 00000018 within one update: ok"

sed -i 's#^\(/dev/usb/lp0 [^ ]* [^ ]*\) 0x18#\1 0x38#' "$control"
wait_until 7 status_is /var/run/cifs/Laser.status 00000038 ||
  fail "Laser.status after paper out: [$(cat /var/run/cifs/Laser.status)]"
log "paper out follows within one update: ok"

add Spare /dev/usb/lp1
add Samsung /dev/usb/lp2
add Busy /dev/usb/lp3
wait_until 7 status_is /var/run/cifs/Samsung.status 00000018 || fail "maker 04e8 answering 0"
wait_until 7 status_is /var/run/cifs/Busy.status 00000098 || fail "a busy printer keeps its raw status"
wait_until 7 status_is /var/run/cifs/Spare.status 00000000 || fail "an absent printer reports zero"
log "makers' rules and an absent printer: ok"

rc=0
add Fifth /dev/usb/lp4 || rc=$?
[ "$rc" != 0 ] || fail "a fifth printer was added"
rc=0
add Long "/dev/$(printf 'p%.0s' {1..70})" || rc=$?
[ "$rc" != 0 ] || fail "a device path longer than the record was added"
! "$ctl" ES | grep -q "Share name: Long" || fail "the refused printer share is listed"
log "a fifth printer and a long device path refused: ok"

"$ctl" removeshare Busy > /dev/null
wait_until 3 test ! -e /var/run/cifs/Busy.status || fail "the status file outlived its share"
log "status file removed with its share: ok"

kill -0 "$server" || fail "the server died: $(cat "$work/vxcs.log")"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
kill -TERM "$server"
wait_until 10 bash -c "! kill -0 $server 2> /dev/null" || fail "the server did not stop"
log "printer status scenario: ok"
