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

ns_add_host peer 192.168.30.2/24 192.168.30.1/24
# Multicast leaves by the link to the peer; nothing else routes here.
ip route add 224.0.0.0/4 dev "$(ns_if peer)"

ip netns exec peer python3 "$here/dns_peer.py" llmnr 192.168.30.2 printer > "$work/peer.log" &
on_exit kill $!
wait_port udp 5355 10 peer

start_capture "$(ns_if peer)" "$work/llmnr.pcap" "udp port 5355"

got=$(printf 'init 2\nip printer\nip scanner\nexit 2\n' | "$probe" | sed -n 's/^> //p')
expect "probe answers" "$got" "0
192.168.30.2
none
0"

questions() {
  tshark -n -r "$work/llmnr.pcap" -Y 'llmnr && dns.flags.response == 0 && dns.qry.type == 1' \
    -T fields -e ip.dst -e udp.dstport -e dns.qry.name 2>/dev/null | sort -u
}
want="224.0.0.252	5355	printer
224.0.0.252	5355	scanner"
# The last question may still be on its way to the capture file.
questions_seen() { [ "$(questions)" = "$want" ]; }
wait_until 5 questions_seen || true
stop_capture
expect "questions on the wire" "$(questions)" "$want"
answered=$(tshark -n -r "$work/llmnr.pcap" -Y 'llmnr && dns.flags.response == 1 && dns.a' \
  -T fields -e ip.src -e dns.a 2>/dev/null | sort -u)
expect "the responder's answer" "$answered" "192.168.30.2	192.168.30.2"
echo PASS
