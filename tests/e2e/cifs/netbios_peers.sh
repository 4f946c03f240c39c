#!/usr/bin/env bash
# The socket layer against real peers on a second host over a veth:
# smbclient reaches an accept probe on port 139 under the host's name, its
# address text and "*SMBSERVER" (another name gets 0x83) and its negotiate
# arrives whole; a session to smbd's 139 is accepted (0x82); nmbd's node
# status gives its name. smbd and nmbd run on the peer with a private
# configuration and state.
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
command -v smbd > /dev/null && command -v nmbd > /dev/null || { echo "no samba here: skipping" >&2; exit 77; }

ns_add_host peer 192.168.41.2/24 192.168.41.1/24
mkdir -p "$work"/samba/{private,lock,state,cache,pid,ncalrpc} "$work/share" /run/samba
cat > "$work/smb.conf" <<EOF
[global]
  netbios name = PEERBOX
  workgroup = WORKGROUP
  interfaces = eth0
  bind interfaces only = yes
  smb ports = 139
  private dir = $work/samba/private
  lock directory = $work/samba/lock
  state directory = $work/samba/state
  cache directory = $work/samba/cache
  pid directory = $work/samba/pid
  ncalrpc dir = $work/samba/ncalrpc
  log file = $work/samba/log.%m
  load printers = no
  disable spoolss = yes
  server role = standalone server
  map to guest = Bad User
  local master = no
  domain master = no
  preferred master = no
[x]
  path = $work/share
  guest ok = yes
EOF
ns_exec peer smbd --foreground --no-process-group -s "$work/smb.conf" > "$work/smbd.log" 2>&1 &
on_exit kill $!
ns_exec peer nmbd --foreground --no-process-group -s "$work/smb.conf" > "$work/nmbd.log" 2>&1 &
on_exit kill $!

# The accept probe registers its name with a daemon: the scripted one.
coproc FAKED { "$faked"; }
on_exit kill "$FAKED_PID"
read -r -t 5 ready <&"${FAKED[0]}" || fail "the fake daemon did not start"

start_capture "$(ns_if peer)" "$work/nbss.pcap" "tcp port 139"

# Four sessions: NAS, the address text, OTHER (refused; smbclient then tries
# *SMBSERVER on a new connection).
mkfifo "$work/probe.in"
"$tool" < "$work/probe.in" > "$work/probe.out" 2>&1 &
probe_pid=$!
exec 3> "$work/probe.in"
on_exit kill "$probe_pid"
printf 'init 0 2\naccept\naccept\naccept\naccept\n' >&3
wait_port tcp 139
for target in "//NAS/x -I 192.168.41.1" "//192.168.41.1/x" "//OTHER/x -I 192.168.41.1"; do
  # shellcheck disable=SC2086
  ns_exec peer timeout 10 smbclient $target -p 139 -N --netbiosname PEERCLIENT -c ls > /dev/null 2>&1 || true
done
for _ in $(seq 50); do [ "$(grep -c '^> ' "$work/probe.out")" -ge 5 ] && break; sleep 0.1; done
exec 3>&-
wait "$probe_pid" || true
answers=$(sed -n 's/^> //p' "$work/probe.out")
log "probe: $(echo "$answers" | tr '\n' '|')"
[ "$(echo "$answers" | sed -n 1p)" = 0 ] || fail "probe did not start: $answers"
expect "refused once" "$(echo "$answers" | grep -c '^refused$')" 1
accepted=$(echo "$answers" | grep '^PEERCLIENT ' || true)
expect "accepted sessions" "$(echo "$accepted" | wc -l)" 3
# CALLING LENGTH GOT FIRST-BYTES: the whole negotiate, an SMB1 or SMB2 one.
echo "$accepted" | while read -r calling length got head; do
  [ "$length" = "$got" ] && [ "$length" -gt 64 ] || fail "negotiate not whole: $length $got"
  case "$head" in fe534d42* | ff534d42*) ;; *) fail "not an SMB negotiate: $head" ;; esac
done
log "negotiates arrived whole: ok"

sleep 0.5
stop_capture
sessions=$(tshark -n -r "$work/nbss.pcap" -Y 'nbss.type == 0x81 || nbss.type == 0x82 || nbss.type == 0x83' \
  -T fields -e nbss.type -e nbss.called_name 2>/dev/null | sed 's/ ([^)]*)//' | tr '\t' ' ')
expect "session requests and answers" "$sessions" "0x81 NAS<20>
0x82 
0x81 192.168.41.1<20>
0x82 
0x81 OTHER<20>
0x83 
0x81 *SMBSERVER<20>
0x82 "

# smbd accepts our session request; nmbd names itself once registered.
got=$(printf 'init 0 2\nconnect 192.168.41.2 PEERBOX\n' | "$tool" | sed -n 's/^> //p' | tail -1)
expect "session to smbd" "$got" "0"
name=
for _ in $(seq 10); do
  name=$(printf 'init 0 2\nhostname 192.168.41.2\n' | "$tool" | sed -n 's/^> //p' | tail -1)
  [ "$name" = PEERBOX ] && break
  sleep 0.5
done
expect "node status of nmbd" "$name" "PEERBOX"
echo PASS
