#!/usr/bin/env bash
# The device host: load message, version, unknown requests, OID length, and
# several client processes at once.
set -euo pipefail
. "$(dirname "$0")/common.sh"

start_devhost
grep -q '<6>xDSL device driver 1.7.9-37 loaded' /tmp/klog || fail "no load message: $(cat /tmp/klog)"
log "load message printed"

expect_result 0 0x7616 --size 64 --text 0
[ "$answer" = "1.7.9-37;201904102211" ] || fail "version answered '$answer'"
log "version: $answer"

for cmd in 0x7612 0x7634 0x7652 0x9999; do
  expect_result -25 "$cmd" --size 64
done
grep -q 'no such ioctl case 0x7634' /tmp/klog || fail "unknown request not logged"
log "unknown requests answer -25"

expect_result -14 0x7616 --size 63
expect_result -14 0x7616 --size 0
oid511="2.1.5$(printf 'x%.0s' $(seq 506))"
expect_result 100 0x7627 --str 1 "$oid511"        # taken: the port is disabled until the chip starts
expect_result -117 0x7627 --str 1 "${oid511}x"
log "a block shorter than 64 bytes faults; an OID of 512 characters answers -117"

# Two clients at once, each many times: every answer is the version.
"$vdslreq" 0x7616 --size 64 --text 0 --repeat 200 > /tmp/client1 & a=$!
"$vdslreq" 0x7616 --size 64 --text 0 --repeat 200 > /tmp/client2 & b=$!
wait "$a" "$b"
for i in 1 2; do
  [ "$(cat /tmp/client$i)" = "$(printf 'result=0\n1.7.9-37;201904102211')" ] || fail "client $i: $(cat /tmp/client$i)"
done
log "two clients at once both got their answers"

kill "$devhost_pid"
wait "$devhost_pid" || true
grep -q '<6>xDSL device driver 1.7.9-37 unloaded' /tmp/klog || fail "no unload message"
echo PASS
