#!/usr/bin/env bash
# pppoeprobe against pppoe-server: one concentrator, then two (and a third
# under the first one's name), the feedback script's variables, the
# cross-check with `pppoe -A`, and the option cases.
set -euo pipefail
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns
probe=$1

# The feedback script keeps what it was given: the PPPOE_* variables of its
# environment and its standard input.
cat > /tmp/feedback.sh <<'SH'
#!/bin/sh
env | grep '^PPPOE_' | sort > /tmp/feedback.env
cat > /tmp/feedback.in
SH
chmod +x /tmp/feedback.sh

start_ac() { # HOST ACNAME SERVICE SERVICE
  ns_exec "$1" pppoe-server -I eth0 -C "$2" -S "$3" -S "$4" -X "/tmp/$1.pid"
  on_exit sh -c "kill \$(cat /tmp/$1.pid) 2>/dev/null"
}

log "one concentrator"
ns_add_host ac1 10.70.1.2/24 10.70.1.1/24
start_ac ac1 first-ac isp video
ac1_mac=$(ns_mac ac1)
tcpdump -i veth-ac1 -w /tmp/padi.pcap -U 'ether proto 0x8863' 2> /tmp/tcpdump.err &
dump=$!
wait_line /tmp/tcpdump.err 'listening on' 10
started=$(date +%s%N)
"$probe" -I veth-ac1 -w 3 -r 3 -f /tmp/feedback.sh > /tmp/out1 || fail "probe failed: $(cat /tmp/out1)"
took=$(( ($(date +%s%N) - started) / 1000000 ))
sleep 0.3
kill "$dump"; wait "$dump" || true
expected="Discovering PPPoE access concentrators on veth-ac1...

AC name   : first-ac
HW address: $ac1_mac
   Service: isp
   Service: video"
[ "$(cat /tmp/out1)" = "$expected" ] || fail "report differs:
$(cat /tmp/out1)"
printf 'PPPOE_AC0_HW_ADDR=%s\nPPPOE_AC0_NAME=first-ac\nPPPOE_AC0_SERVICE0=isp\nPPPOE_AC0_SERVICE1=video\nPPPOE_INTERFACE=veth-ac1\n' \
  "$ac1_mac" > /tmp/want.env
diff -u /tmp/want.env /tmp/feedback.env || fail "feedback variables differ"
padis=$(tcpdump -r /tmp/padi.pcap -n 2> /dev/null | grep -c 'PADI' || true)
[ "$padis" = 3 ] || fail "expected 3 PADIs in 3 s at 3 requests, saw $padis"
[ "$took" -ge 2900 ] && [ "$took" -lt 4500 ] || fail "a 3 s search took $took ms"
log "one AC, 3 PADIs, $took ms, feedback as expected"

# pppoe's own discovery agrees on the name, the address and the services.
stdbuf -oL timeout 3 pppoe -I veth-ac1 -A -t 1 > /tmp/pppoe_a || true
grep -qx 'Access-Concentrator: first-ac' /tmp/pppoe_a || fail "pppoe -A: $(cat /tmp/pppoe_a)"
grep -qix "AC-Ethernet-Address: $ac1_mac" /tmp/pppoe_a || fail "pppoe -A address: $(cat /tmp/pppoe_a)"
[ "$(sed -n 's/^ *Service-Name: //p' /tmp/pppoe_a | tr '\n' ' ')" = "isp video " ] || fail "pppoe -A services"

log "two concentrators, and a third under the first one's name"
ns_add_host ac2 10.70.2.2/24 10.70.2.1/24
ns_add_host ac3 10.70.3.2/24 10.70.3.1/24
start_ac ac2 second-ac office voip
start_ac ac3 first-ac backup spare
ip link add br0 type bridge forward_delay 0
for i in veth-ac1 veth-ac2 veth-ac3; do ip link set "$i" master br0; done
ip link set br0 up
sleep 0.5
rm -f /tmp/feedback.env
"$probe" -I br0 -w 3 -r 3 -f /tmp/feedback.sh > /tmp/out2 || fail "probe failed: $(cat /tmp/out2)"
for mac_name in "$ac1_mac first-ac isp video" "$(ns_mac ac2) second-ac office voip" "$(ns_mac ac3) first-ac backup spare"; do
  set -- $mac_name
  grep -A3 -x "AC name   : $2" /tmp/out2 | grep -x "HW address: $1" > /dev/null || fail "no $2 at $1 in: $(cat /tmp/out2)"
  n=$(grep "=$1\$" /tmp/feedback.env | sed 's/PPPOE_AC\([0-9]*\)_HW_ADDR=.*/\1/')
  [ -n "$n" ] || fail "no feedback for $1"
  grep -qx "PPPOE_AC${n}_NAME=$2" /tmp/feedback.env || fail "AC$n name"
  grep -qx "PPPOE_AC${n}_SERVICE0=$3" /tmp/feedback.env || fail "AC$n service 0"
  grep -qx "PPPOE_AC${n}_SERVICE1=$4" /tmp/feedback.env || fail "AC$n service 1"
done
[ "$(grep -c 'AC name' /tmp/out2)" = 3 ] || fail "each AC printed once: $(cat /tmp/out2)"
[ "$(wc -l < /tmp/feedback.env)" = 13 ] || fail "exactly the PPPOE_* variables: $(cat /tmp/feedback.env)"
stdbuf -oL timeout 3 pppoe -I br0 -A -t 1 > /tmp/pppoe_a || true
[ "$(grep -c '^Access-Concentrator:' /tmp/pppoe_a)" = 3 ] || fail "pppoe -A sees: $(cat /tmp/pppoe_a)"
log "three ACs found, each once, as pppoe -A sees them"

log "SIGTERM ends the search early, with the report and the feedback"
rm -f /tmp/feedback.env
"$probe" -I br0 -w 10 -r 2 -f /tmp/feedback.sh > /tmp/out4 &
prober=$!
sleep 1.5
started=$(date +%s%N)
kill -TERM "$prober"
wait "$prober" || fail "an interrupted search is no failure"
took=$(( ($(date +%s%N) - started) / 1000000 ))
[ "$took" -lt 2000 ] || fail "took $took ms to stop"
grep -qx "AC name   : second-ac" /tmp/out4 || fail "report after SIGTERM: $(cat /tmp/out4)"
grep -qx "PPPOE_AC[0-2]_NAME=second-ac" /tmp/feedback.env || fail "no feedback after SIGTERM"
log "stopped in $took ms"

log "a failing feedback script fails the run"
printf '#!/bin/sh\nexit 3\n' > /tmp/failing.sh
chmod +x /tmp/failing.sh
status=0
"$probe" -I br0 -w 1 -r 1 -f /tmp/failing.sh > /tmp/out5 2> /tmp/err5 || status=$?
[ "$status" = 1 ] || fail "status $status after a failed feedback"
grep -q '^Failed to send a feedback: ' /tmp/err5 || fail "no message: $(cat /tmp/err5)"

log "no feedback without an offer"
ns_add_host quiet 10.70.4.2/24 10.70.4.1/24
rm -f /tmp/feedback.env
"$probe" -I veth-quiet -w 1 -r 1 -f /tmp/feedback.sh > /tmp/out3 || fail "an empty search is no failure"
grep -qx 'No access concentrators found.' /tmp/out3 || fail "empty report: $(cat /tmp/out3)"
[ ! -e /tmp/feedback.env ] || fail "the script ran without an offer"

log "options"
check() { # STATUS STDERR-TEXT ARGS...
  local want=$1 text=$2 got=0
  shift 2
  "$probe" "$@" > /tmp/o.out 2> /tmp/o.err || got=$?
  [ "$got" = "$want" ] || fail "$*: status $got"
  [ "$(cat /tmp/o.err)" = "$text" ] || fail "$*: said '$(cat /tmp/o.err)'"
}
check 1 'A wait time value should be between 1 and 10 sec.' -I veth-ac1 -w 0
check 1 'A wait time value should be between 1 and 10 sec.' -I veth-ac1 -w 11
check 1 'A request period is too short (833 ms. < 1 sec.).' -I veth-ac1 -w 5 -r 6
check 1 'A request count value should be at least 1.' -I veth-ac1 -r 0
check 1 'Interface "nosuch0" not found.' -I nosuch0
check 1 'An interface name (-I) is a mandatory option.' -w 1 -r 1
check 1 '' 
grep -q '^Usage: pppoeprobe' /tmp/o.out || fail "usage on standard output"
echo PASS
