#!/usr/bin/env bash
# The SMB1 session commands as real clients use them, with vxnd and vxcs in
# a namespace of their own: smbclient (NT1) logs on and connects to a share
# over 445 and 139, plain and signed; a wrong password and a missing share
# are refused; a guest gets in only in permissive mode; impacket logs on in
# both forms, moves files, sends crafted negotiates, chains, echoes and
# blocks outside their message, reads large with signing, and crowds the 50
# client slots over 445 and 139, mutates every SMB1 command under ASan;
# an encrypted share or server refuses SMB1.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3 clients=$4
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

work=$(mktemp -d)
share_and_peer
start_servers "$vxnd" "$vxcs"
wait_port tcp 445
wait_port tcp 139

user=alice password='Secret#1'
add_user "$user" "$password"

nt1() { # nt1 PORT CREDENTIALS EXTRA...
  local port=$1 credentials=$2
  shift 2
  timeout 20 smbclient //127.0.0.1/Share -p "$port" "$credentials" -m NT1 \
    --option='client min protocol=NT1' "$@" -c 'exit' > "$work/smbclient.log" 2>&1
}

for port in 445 139; do
  for protection in off sign; do
    nt1 "$port" -U"$user%$password" --client-protection="$protection" ||
      fail "logon and tree connect on $port ($protection): $(cat "$work/smbclient.log")"
    log "smbclient NT1 on $port, protection $protection: logon and tree connect ok"
  done
done

! nt1 445 -U"$user%wrong" || fail "a wrong password was taken"
grep -q NT_STATUS_LOGON_FAILURE "$work/smbclient.log" || fail "wrong password: $(cat "$work/smbclient.log")"
log "wrong password refused: ok"

! timeout 20 smbclient //127.0.0.1/Nothing -U"$user%$password" -m NT1 --option='client min protocol=NT1' \
  -c exit > "$work/missing.log" 2>&1 || fail "a missing share was connected"
grep -q NT_STATUS_BAD_NETWORK_NAME "$work/missing.log" || fail "missing share: $(cat "$work/missing.log")"
log "missing share refused: ok"

! nt1 445 -Uguestuser%x || fail "an unknown user got in without permissive mode"
"$ctl" setpermissive 1 > "$work/ctl.log" 2>&1 || fail "setpermissive: $(cat "$work/ctl.log")"
nt1 445 -Uguestuser%x || fail "guest in permissive mode: $(cat "$work/smbclient.log")"
"$ctl" setpermissive 0 > "$work/ctl.log" 2>&1 || fail "setpermissive 0: $(cat "$work/ctl.log")"
log "guest only in permissive mode: ok"

/usr/bin/python3 "$clients" "$user" "$password" Share "$work/share" plain
"$ctl" MSG 2 > "$work/ctl.log" 2>&1 || fail "signing required: $(cat "$work/ctl.log")"
/usr/bin/python3 "$clients" "$user" "$password" Share "$work/share" signed
"$ctl" MSG 1 > "$work/ctl.log" 2>&1 || fail "signing enabled: $(cat "$work/ctl.log")"
/usr/bin/python3 "$clients" "$user" "$password" Share "$work/share" crowd
/usr/bin/python3 "$clients" "$user" "$password" Share "$work/share" hostile

kill -0 "$server" || fail "the server died: $(cat "$work/vxcs.log")"
! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
log "server alive, no sanitizer report: ok"

# A share that requires encryption is out of SMB1's reach; a server that
# requires it takes no SMB1 logon at all.
for encrypt in Share '*'; do
  kill -TERM "$server"
  wait "$server" || true
  "$vxcs" -i 001122334455 --encrypt-share "$encrypt" > "$work/vxcs.log" 2>&1 &
  server=$!
  on_exit quiet_kill "$server"
  wait_line "$work/vxcs.log" "VXCS: server is ready"
  wait_port tcp 445
  add_user "$user" "$password"
  ! nt1 445 -U"$user%$password" || fail "SMB1 reached an encrypted share ($encrypt)"
  grep -q NT_STATUS_ACCESS_DENIED "$work/smbclient.log" || fail "encrypted $encrypt: $(cat "$work/smbclient.log")"
done
log "encrypted share and server refused to SMB1: ok"
