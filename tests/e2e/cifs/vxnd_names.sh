#!/usr/bin/env bash
# vxnd on its own host, a peer over a veth: the usage texts and exit
# codes (255 for usage, 1 for a start that fails); the pid file and ready line; names held for the test tool answered
# to nmblookup (unicast, node status, broadcast, with a scope after SIGHUP);
# LLMNR answers to dig (A with EDNS, PTR, none for 16 characters); junk
# from the peer leaves it answering; SIGTERM
# releases the names on the wire and ends with 0 and no pid file.
set -euo pipefail
vxnd=$1
tool=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
command -v nmblookup > /dev/null && command -v tshark > /dev/null && command -v dig > /dev/null ||
  { echo "no nmblookup, tshark or dig here: skipping" >&2; exit 77; }

# Usage texts, exit 255, before any daemon state
usage() { set +e; "$vxnd" "$@" > "$work/usage.out" 2>&1; echo "$? $(tr '\n' '|' < "$work/usage.out")"; set -e; }
expect "no argument" "$(usage)" "255 Usage:|  -i <12 byte computer ID>|"
expect "other option" "$(usage -x 001122334455)" "255 a computer ID argument required|"
expect "three arguments" "$(usage -i 001122334455 extra)" "255 a computer ID argument required|"
expect "11 characters" "$(usage -i 00112233445)" "255 a computer ID should be 12 bytes long|"
expect "13 characters" "$(usage -i 0011223344556)" "255 a computer ID should be 12 bytes long|"
[ ! -e /var/run/vxnd.pid ] || fail "a usage error left a pid file"

# A daemon that cannot start (UDP 137 taken) ends unasked: exit 1, no pid file.
python3 -c 'import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("0.0.0.0", 137)); print("bound", flush=True); time.sleep(30)' > "$work/holder.out" &
holder=$!
on_exit quiet_kill "$holder"
wait_line "$work/holder.out" bound
set +e
timeout 10 "$vxnd" -i 001122334455 > "$work/failed.out" 2>&1
code=$?
set -e
expect "exit status of a failed start" "$code" 1
[ ! -e /var/run/vxnd.pid ] || fail "a failed start left a pid file"
kill "$holder"
wait "$holder" 2> /dev/null || true

ns_add_host peer 192.168.61.2/24 192.168.61.1/24
tshark -n -i "$(ns_if peer)" -f "udp port 137" -w "$work/ns.pcap" 2> "$work/tshark.err" &
tshark_pid=$!
on_exit quiet_kill "$tshark_pid"
wait_line "$work/tshark.err" "Capturing on"

"$vxnd" -i 001122334455 > "$work/vxnd.out" 2>&1 &
vxnd_pid=$!
on_exit quiet_kill "$vxnd_pid"
wait_line "$work/vxnd.out" "VXND: server is ready"
expect "pid file" "$(cat /var/run/vxnd.pid)" "$vxnd_pid"

got=$(printf 'init 0 1\nregister WIDGET\nregister WIDGET/00\n' | "$tool" | sed -n 's/^> //p' | tr '\n' ' ')
expect "names registered" "$got" "0 0 0 "

lookup() { ns_exec peer nmblookup "$@" 2> /dev/null | grep -v '^querying' || true; }
expect "unicast query" "$(lookup -U 192.168.61.1 --recursion 'WIDGET#20')" "192.168.61.1 WIDGET<20>"
expect "broadcast query" "$(lookup -B 192.168.61.255 'WIDGET#20')" "192.168.61.1 WIDGET<20>"
status=$(lookup -A 192.168.61.1)
echo "$status" | grep -q 'WIDGET *<20> - *B <ACTIVE>' || fail "node status: $status"
echo "$status" | grep -q 'WIDGET *<00> - *B <ACTIVE>' || fail "node status: $status"
log "node status: ok"

# LLMNR
llmnr() { ns_exec peer dig -p 5355 @192.168.61.1 +time=1 +tries=1 "$@" 2>&1 || true; }
a=$(llmnr +edns widget A)
echo "$a" | grep -q 'ANSWER: 1, AUTHORITY: 0, ADDITIONAL: 0' || fail "A answer counts: $a"
expect "A answer" "$(echo "$a" | awk '/ANSWER SECTION/{getline; print $1, $4, $5}')" "widget. A 192.168.61.1"
! echo "$a" | grep -qi 'malformed\|warning' || fail "dig warns: $a"
ptr=$(llmnr -x 192.168.61.1)
expect "PTR answer" "$(echo "$ptr" | awk '/ANSWER SECTION/{getline; print $4, $5}')" "PTR NAS."
long=$(llmnr widgetwidgetwidg A)
! echo "$long" | grep -q 'ANSWER SECTION' || fail "a 16-character name was answered: $long"
log "LLMNR: ok"

# Malformed and truncated messages, then a burst of junk, from the peer:
# the daemon still answers.
cat > "$work/junk.py" <<'PY'
import random, socket
def enc(name, suffix):
    raw = name.ljust(15).encode() + bytes([suffix])
    return bytes([32]) + bytes(b for c in raw for b in (65 + (c >> 4), 65 + (c & 15))) + b"\0"
hdr = lambda flags, an: bytes([0x12, 0x34, flags >> 8, flags & 255, 0, 1, 0, an, 0, 0, 0, 1])
rr = lambda ttl, rdlen, rdata: b"\0\x20\0\1" + ttl.to_bytes(4, "big") + rdlen.to_bytes(2, "big") + rdata
name = enc("WIDGET", 0x20)
bad = [
    hdr(0x0000, 0) + b"\xc0\x0c\0\x20\0\x01",                 # pointer to itself
    hdr(0x0000, 0) + b"\xc0\x20\0\x20\0\x01" + name,          # forward pointer
    hdr(0x8500, 1) + name + rr(300, 65535, b"\0\0\x7f\0\0\x01"),  # RDLENGTH 65535
    hdr(0xbc00, 1) + name + rr(0, 2, b"\0\0"),                # WACK of TTL 0
    hdr(0xad80, 1) + name + rr(0, 6, b"\0\0\xc0\xa8\x3d\x02"),   # TTL 0 answer
]
bad += [m[:n] for m in list(bad) for n in range(0, len(m), 3)]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for m in bad:
    for port in (137, 138, 5355):
        s.sendto(m, ("192.168.61.1", port))
r = random.Random(5)
for i in range(3000):
    s.sendto(bytes(r.getrandbits(8) for _ in range(r.randrange(80))), ("192.168.61.1", (137, 138, 5355)[i % 3]))
PY
ns_exec peer python3 "$work/junk.py"
kill -0 "$vxnd_pid" || fail "the daemon died of malformed messages"
expect "answering after junk" "$(lookup -U 192.168.61.1 'WIDGET#20')" "192.168.61.1 WIDGET<20>"

# A scope read at the next reload: the names answer within it only.
printf 'SCOPE_ID=corp.lan\n' >> /var/run/cifs/cm_cfg.txt
kill -HUP "$vxnd_pid"
scoped=
for _ in $(seq 20); do
  scoped=$(lookup -U 192.168.61.1 --netbios-scope=corp.lan 'WIDGET#20')
  [ -n "$scoped" ] && break
  sleep 0.25
done
kill -0 "$vxnd_pid" || fail "SIGHUP ended the daemon"
expect "query within the scope" "$scoped" "192.168.61.1 WIDGET<20>"

# SIGTERM: released on the wire, exit 0 within a second, no pid file
start=$(date +%s%N)
kill -TERM "$vxnd_pid"
set +e
wait "$vxnd_pid"
code=$?
set -e
took=$((($(date +%s%N) - start) / 1000000))
expect "exit status after SIGTERM" "$code" 0
[ "$took" -lt 1000 ] || fail "SIGTERM took ${took} ms"
[ ! -e /var/run/vxnd.pid ] || fail "pid file left"
sleep 0.5
kill -INT "$tshark_pid"
wait "$tshark_pid" 2> /dev/null || true
released=$(tshark -n -r "$work/ns.pcap" -Y 'ip.src == 192.168.61.1 && nbns.flags.opcode == 6' -T fields -e nbns.name 2> /dev/null | cut -d, -f1 | sort -u | tr '\n' ' ')
expect "releases on the wire" "$released" "WIDGET<00>.corp.lan WIDGET<20>.corp.lan "
echo PASS
