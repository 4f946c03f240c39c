#!/usr/bin/env bash
# A chip management frame (ethertype 0x6120) crosses a veth pair between two
# namespaces through the base library's layer-2 sockets, byte for byte.
set -euo pipefail
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns
probe=$1

ns_add_host chip 10.61.0.2/24 10.61.0.1/24
chip_mac=$(ns_mac chip)
out=/tmp/received
# 0x6120 is 24864. Bytes 14-15 0x00 0x07, then an 8-byte request; and a
# full-size frame whose payload walks every byte value.
big=$(for i in $(seq 0 1485); do printf '%02x' $((i % 256)); done)
for payload in 00070a0b0c0d0e0f1011 "$big"; do
  rm -f "$out"
  ns_exec chip "$probe" recv eth0 24864 5000 > "$out" &
  receiver=$!
  wait_line "$out" ready 5
  sent=$("$probe" send "$(ns_if chip)" "$chip_mac" 24864 "$payload")
  wait "$receiver" || fail "receiver got nothing"
  got=$(sed -n 2p "$out")
  [ "$got" = "$sent" ] || fail "frame changed on the way: sent $sent got $got"
  log "frame of $(( ${#sent} / 2 )) bytes arrived intact"
done

# A frame for another ethertype does not reach a 0x6120 socket.
rm -f "$out"
ns_exec chip "$probe" recv eth0 24864 300 > "$out" &
receiver=$!
wait_line "$out" ready 5
"$probe" send "$(ns_if chip)" "$chip_mac" 24865 00070102 > /dev/null
if wait "$receiver"; then fail "a 0x6121 frame reached the 0x6120 socket"; fi
echo PASS
