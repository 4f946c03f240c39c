#!/usr/bin/env bash
# vxnd beside Samba's nmbd on a second host: a unique name nmbd holds is
# refused to the test tool (0xff0fa3); nmbd registering one of ours gets
# 0xA807; nmbd's name resolves for the tool, the second time from the cache.
# Datagrams: an 11-byte error 0x82 for an unknown unique name; a listener
# gets datagrams to its name; a group datagram and a host announcement of
# the tool leave on the veth once.
set -euo pipefail
vxnd=$1
tool=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
command -v nmbd > /dev/null && command -v tshark > /dev/null ||
  { echo "no nmbd or tshark here: skipping" >&2; exit 77; }

ns_add_host peer 192.168.62.2/24 192.168.62.1/24
tshark -n -i "$(ns_if peer)" -f "udp port 137 or udp port 138" -w "$work/nb.pcap" 2> "$work/tshark.err" &
tshark_pid=$!
on_exit quiet_kill "$tshark_pid"
wait_line "$work/tshark.err" "Capturing on"

"$vxnd" -i 001122334455 > "$work/vxnd.out" 2>&1 &
vxnd_pid=$!
on_exit quiet_kill "$vxnd_pid"
wait_line "$work/vxnd.out" "VXND: server is ready"

# The tool stays up on a pipe: its names, its listener.
mkfifo "$work/tool.in"
"$tool" < "$work/tool.in" > "$work/tool.out" 2>&1 &
tool_pid=$!
exec 3> "$work/tool.in"
on_exit quiet_kill "$tool_pid"
answers() { sed -n 's/^> //p' "$work/tool.out"; }
more_than() { [ "$(answers | wc -l)" -gt "$1" ]; }
ask() { # ask COMMAND: the tool's answer line to it
  local before
  before=$(answers | wc -l)
  echo "$1" >&3
  wait_until 20 more_than "$before" || fail "no answer to $1"
  answers | tail -1
}
expect "tool started" "$(ask 'init 0 1')" 0
expect "WIDGET registered" "$(ask 'register WIDGET')" 0
expect "listening" "$(ask 'listen WIDGET')" 0

# Datagrams from the peer: to WIDGET<20> (ours) and to NOBODY<20> (nobody's).
cat > "$work/dgram.py" <<'PY'
import socket, sys
def enc(name, suffix):
    raw = name.ljust(15).encode() + bytes([suffix])
    return bytes([32]) + bytes(b for c in raw for b in (65 + (c >> 4), 65 + (c & 15))) + b"\0"
dest, data = sys.argv[1], sys.argv[2].encode()
body = enc("PEERBOX", 0) + enc(dest, 0x20) + data
d = bytes([0x10, 0x02, 0x44, 0x55, 192, 168, 62, 2, 0, 138]) + len(body).to_bytes(2, "big") + b"\0\0" + body
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(1.5)
s.sendto(d, ("192.168.62.1", 138))
try:
    print(s.recv(2048).hex())
except socket.timeout:
    print("none")
PY
expect "datagram to an own name: no error" "$(ns_exec peer python3 "$work/dgram.py" WIDGET hello)" none
expect "listener got it" "$(ask recv)" "PEERBOX hello"
expect "datagram error (11 bytes, 0x82)" "$(ns_exec peer python3 "$work/dgram.py" NOBODY hello)" 13024455c0a83e02008a82

# A group datagram and a host announcement leave once on the veth.
expect "group datagram sent" "$(ask 'send TEAM/1E to the team')" 11
expect "host announcement" "$(ask 'announce')" 5

# nmbd on the peer: PEERBOX is its own, WIDGET an alias that we hold.
mkdir -p "$work"/samba/{private,lock,state,cache,pid,ncalrpc} /run/samba
cat > "$work/smb.conf" <<CONF
[global]
  netbios name = PEERBOX
  netbios aliases = WIDGET
  workgroup = PEERGROUP
  interfaces = eth0
  bind interfaces only = yes
  private dir = $work/samba/private
  lock directory = $work/samba/lock
  state directory = $work/samba/state
  cache directory = $work/samba/cache
  pid directory = $work/samba/pid
  ncalrpc dir = $work/samba/ncalrpc
  log file = $work/samba/log.%m
  local master = no
  domain master = no
  preferred master = no
CONF
ns_exec peer nmbd --foreground --no-process-group -s "$work/smb.conf" > "$work/nmbd.log" 2>&1 &
on_exit quiet_kill $!
# Our defence of WIDGET<20> ends nmbd's claim; its other names stand then.
wait_line "$work/samba/log.nmbd" "Failed to register my name WIDGET<20>" 30
# nmbd claims its names by broadcast for a few seconds and defends them only
# after that.
sleep 5
wait_until 10 ip netns exec peer sh -c "nmblookup -U 192.168.62.2 'PEERBOX#20' 2>/dev/null | grep -q '^192.168.62.2 '" ||
  fail "nmbd does not answer for PEERBOX"
expect "nmbd's unique name refused to the tool" "$(ask 'register PEERBOX')" "fail 0xff0fa3"
expect "nmbd's name resolves" "$(ask 'query PEERBOX')" "192.168.62.2"
expect "again, from the cache" "$(ask 'query PEERBOX')" "192.168.62.2"

sleep 0.5
kill -INT "$tshark_pid"
wait "$tshark_pid" 2> /dev/null || true
fields() { tshark -n -r "$work/nb.pcap" -Y "$1" -T fields -e "$2" 2> /dev/null | cut -d, -f1 | sed 's/ (.*//'; }
expect "0xA807 to nmbd's registration of WIDGET" \
  "$(fields 'ip.src == 192.168.62.1 && nbns.flags.rcode == 7' nbns.name | sort -u | tr '\n' ' ')" "WIDGET<20> "
expect "queries for PEERBOX on the wire" \
  "$(fields 'ip.src == 192.168.62.1 && nbns.flags.opcode == 0 && nbns.flags.response == 0 && nbns.name contains "PEERBOX"' nbns.name | wc -l)" 1
expect "group datagram once" "$(fields 'ip.src == 192.168.62.1 && nbdgm.type == 0x11 && nbdgm.destination_name contains "TEAM"' nbdgm.src.ip | tr '\n' ' ')" "192.168.62.1 "
expect "host announcement once" "$(fields 'ip.src == 192.168.62.1 && browser.command == 0x01' browser.server | tr '\n' ' ')" "NAS "
exec 3>&-
echo PASS
