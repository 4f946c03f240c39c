#!/usr/bin/env bash
# The socket layer against the scripted daemon on 127.0.0.1:1026/1027 as a
# process: names held, refused, released and queried, a listening datagram
# socket (granted and refused), a group datagram, and host announcements
# that tshark decodes as browser messages from what reaches the daemon.
set -euo pipefail
tool=$1
faked=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)

expect() {
  [ "$2" = "$3" ] || fail "$1: got [$2], wanted [$3]"
  log "$1: ok"
}

start_capture lo "$work/lo.pcap" "udp port 1026 or udp port 1027"

coproc FAKED { "$faked" --refuse TAKEN/20 --answer PRINTER/20=10.0.0.7 --answer STAFF/1E=10.0.0.8,group; }
on_exit kill "$FAKED_PID"
read -r -t 5 ready <&"${FAKED[0]}" || fail "the fake daemon did not start"
expect "fake daemon" "$ready" "ready"

got=$(printf '%s\n' \
  'init 1 2' \
  'register FRED' \
  'register TAKEN' \
  'query PRINTER' \
  'query STAFF/1E' \
  'query NOBODY' \
  'release FRED' \
  'release FRED' \
  'register *' \
  'listen FRED' \
  'send WORKGROUP/1D hello group' \
  'announce' 'announce' 'announce' 'announce' \
  'exit 1 2' | "$tool" | sed -n 's/^> //p')
expect "tool answers" "$got" "0
0
fail 0xff0fa3
10.0.0.7
10.0.0.8 group
fail 0xff0fa3
0
fail 0xff0faf
fail 0xff0fa1
0
11
5
10
20
30
0"

decode() { tshark -n -r "$work/lo.pcap" -d udp.port==1026,nbns -d udp.port==1027,nbdgm "$@" 2>/dev/null; }

# Host announcements as the browser sees them: periodicity and server type.
announcements() {
  decode -Y 'browser.command == 0x01' -T fields -e nbdgm.destination_name -e browser.server \
    -e browser.period -e browser.server_type
}
want="WORKGROUP<1d>	NAS	5000	0x00008202
WORKGROUP<1d>	NAS	10000	0x00008202
WORKGROUP<1d>	NAS	20000	0x00008202
WORKGROUP<1d>	NAS	30000	0x00008202"
# The last datagrams may still be on their way into the capture file.
announced_all() { [ "$(announcements)" = "$want" ]; }
wait_until 10 announced_all || true
stop_capture
expect "announcements" "$(announcements)" "$want"

# The refused registration went out twice; the name queries carry their flags.
refused=$(decode -Y 'nbns.flags.response == 0 && nbns.name == "TAKEN<20>"' -T fields -e nbns.flags | sort | uniq -c |
  awk '{print $1, $2}')
expect "refused name asked twice" "$refused" "2 0x2900"
group=$(decode -Y 'nbns.flags.response == 1 && nbns.addr == 10.0.0.8' -T fields -e nbns.name -e nbns.nb_flags.group | sed 's/ ([^)]*)//')
expect "query answer with the group flag" "$group" "STAFF<1e>	1"
echo PASS
