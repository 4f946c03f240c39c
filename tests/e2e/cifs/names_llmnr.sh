#!/usr/bin/env bash
# LLMNR through the stack's client: the question leaves for 224.0.0.252 port
# 5355 on the scenario's link (tshark decodes it as LLMNR) and a scripted
# responder on a second host answers for its own name.
set -euo pipefail
probe=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)

expect() {
  [ "$2" = "$3" ] || fail "$1: got [$2], wanted [$3]"
  log "$1: ok"
}

ns_add_host peer 192.168.30.2/24 192.168.30.1/24
# Multicast leaves by the link to the peer; nothing else routes here.
ip route add 224.0.0.0/4 dev "$(ns_if peer)"

ip netns exec peer python3 "$here/dns_peer.py" llmnr 192.168.30.2 printer > "$work/peer.log" &
on_exit kill $!
wait_port udp 5355 10 peer

tshark -n -i "$(ns_if peer)" -f "udp port 5355" -w "$work/llmnr.pcap" 2> "$work/tshark.err" &
tshark_pid=$!
on_exit kill "$tshark_pid"
for _ in $(seq 100); do grep -q "Capturing on" "$work/tshark.err" && break; sleep 0.1; done
grep -q "Capturing on" "$work/tshark.err" || fail "tshark did not start: $(cat "$work/tshark.err")"

got=$(printf 'init 2\nip printer\nip scanner\nexit 2\n' | "$probe" | sed -n 's/^> //p')
expect "probe answers" "$got" "0
192.168.30.2
none
0"

sleep 0.5
kill -INT "$tshark_pid"
wait "$tshark_pid" 2>/dev/null || true
decoded=$(tshark -n -r "$work/llmnr.pcap" -Y 'llmnr && dns.flags.response == 0 && dns.qry.type == 1' \
  -T fields -e ip.dst -e udp.dstport -e dns.qry.name 2>/dev/null | sort -u)
expect "questions on the wire" "$decoded" "224.0.0.252	5355	printer
224.0.0.252	5355	scanner"
answered=$(tshark -n -r "$work/llmnr.pcap" -Y 'llmnr && dns.flags.response == 1 && dns.a' \
  -T fields -e ip.src -e dns.a 2>/dev/null | sort -u)
expect "the responder's answer" "$answered" "192.168.30.2	192.168.30.2"
echo PASS
