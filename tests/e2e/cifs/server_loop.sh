#!/usr/bin/env bash
# vxcs in a namespace of its own with the NetBIOS daemon vxnd beside it: its
# instance ID, pid file and listeners; crafted SMB1 over 445 and
# 139; a crowd past the 50 client slots; a trickling client; smbclient
# refused cleanly; hostile clients under the sanitizers; a restart by control code 2 and by SIGHUP; SIGTERM; 445 taken.
set -euo pipefail
vxcs=$1 vxnd=$2 ctl=$3 clients=$4
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns

work=$(mktemp -d)
mkdir -p /var/run/cifs "$work/music" "$work/docs"
printf 'Music;%s;My music\n' "$work/music" > /var/run/cifs/cs_cfg.txt

for id in 12345678901 1234567890123; do
  rc=0
  "$vxcs" -i "$id" > "$work/id.log" 2>&1 || rc=$?
  [ "$rc" != 0 ] || fail "a ${#id}-character ID was taken"
  grep -q usage "$work/id.log" || fail "no usage for a ${#id}-character ID"
done
log "11- and 13-character IDs refused: ok"

ns_add_host peer 192.168.61.2/24 192.168.61.1/24
"$vxnd" -i 123456789012 > "$work/vxnd.log" 2>&1 &
on_exit quiet_kill "$!"
wait_line "$work/vxnd.log" "VXND: server is ready"

# ---- 445 taken: start-up fails, no pid file --------------------------------
/usr/bin/python3 -c 'import socket,time; s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(("0.0.0.0", 445)); s.listen(); print("held", flush=True); time.sleep(30)' > "$work/holder.log" &
holder=$!
on_exit quiet_kill "$holder"
wait_line "$work/holder.log" held
rc=0
timeout 20 "$vxcs" -i 123456789012 > "$work/taken.log" 2>&1 || rc=$?
[ "$rc" != 0 ] && [ "$rc" != 124 ] || fail "vxcs with 445 taken ended with $rc: $(cat "$work/taken.log")"
[ ! -e /var/run/vxcs.pid ] || fail "a pid file after a failed start"
log "445 taken: exit $rc, no pid file: ok"
kill "$holder"
wait "$holder" 2> /dev/null || true

# ---- the server ------------------------------------------------------------
"$vxcs" -i 123456789012 > "$work/vxcs.log" 2>&1 &
server=$!
on_exit quiet_kill "$server"
wait_line "$work/vxcs.log" "VXCS: server is ready"
wait_file /var/run/vxcs.pid
expect "pid file" "$(cat /var/run/vxcs.pid)" "$server"
wait_port tcp 445
wait_port tcp 139
ss -Hlun 'sport = :4445' | grep -q '127.0.0.1:4445' || fail "no control socket on 127.0.0.1:4445"
log "listeners on 445, 139, 127.0.0.1:4445: ok"

/usr/bin/python3 "$clients" crafted
/usr/bin/python3 "$clients" evict
/usr/bin/python3 "$clients" trickle
/usr/bin/python3 "$clients" hostile
kill -0 "$server" || fail "the server died under hostile clients: $(cat "$work/vxcs.log")"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"

rc=0
timeout 20 smbclient -L //127.0.0.1 -N -m NT1 > "$work/smbclient.log" 2>&1 || rc=$?
[ "$rc" != 0 ] && [ "$rc" != 124 ] || fail "smbclient -m NT1 ended with $rc"
kill -0 "$server" || fail "the server died under smbclient"
log "smbclient -m NT1 refused (exit $rc), server alive: ok"

# ---- control code 2: clients dropped, listeners kept, shares reloaded -----
/usr/bin/python3 "$clients" held > "$work/held.log" 2>&1 &
held=$!
wait_line "$work/held.log" connected
printf 'Music;%s;My music\nDocs;%s;Papers\n' "$work/music" "$work/docs" > /var/run/cifs/cs_cfg.txt
"$ctl" R > "$work/ctl.log" 2>&1 || fail "vxcsctrl R: $(cat "$work/ctl.log")"
wait "$held" || fail "restart: $(cat "$work/held.log")"
"$ctl" ES > "$work/shares.log" 2>&1 || fail "vxcsctrl ES: $(cat "$work/shares.log")"
grep -q Docs "$work/shares.log" || fail "shares not reloaded: $(cat "$work/shares.log")"
kill -0 "$server" || fail "the server ended at a restart"
log "restart: ok"

ready=$(grep -c "VXCS: server is ready" "$work/vxcs.log")
kill -HUP "$server"
more_ready() { [ "$(grep -c "VXCS: server is ready" "$work/vxcs.log")" -gt "$ready" ]; }
wait_until 10 more_ready ||
  fail "no restart on SIGHUP: $(cat "$work/vxcs.log")"
/usr/bin/python3 "$clients" served
log "SIGHUP restarts: ok"

kill -TERM "$server"
rc=0
wait "$server" || rc=$?
expect "SIGTERM exit" "$rc" 0
[ ! -e /var/run/vxcs.pid ] || fail "the pid file outlived the server"
grep -q "VX Server was shut down" "$work/vxcs.log" || fail "no shut-down line"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
log "SIGTERM: ok"
