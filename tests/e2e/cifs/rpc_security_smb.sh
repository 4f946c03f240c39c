#!/usr/bin/env bash
# The security authority, account manager and registry over real SMB pipes:
# vxnd and vxcs in a namespace of their own, users added through the
# control channel; impacket over NT1, SMB 2.1 and sealed 3.1.1
# (rpc_security_smb.py), then rpcclient's lsa and samr commands.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3 clients=$4
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

mkdir -p "$work/share"
shares=$(printf 'Share;%s;Test share' "$work/share")
server_start "$vxnd" "$vxcs"

"$ctl" +U boss "Boss" "The boss" "$(nt_hash 'Boss#1')" A > "$work/ctl.log" 2>&1 || fail "add boss: $(cat "$work/ctl.log")"
"$ctl" +U alice "Alice" "A user" "$(nt_hash 'Alice#1')" > "$work/ctl.log" 2>&1 || fail "add alice: $(cat "$work/ctl.log")"

/usr/bin/python3 "$clients" "$ctl" || fail "clients: vxcs log: $(tail -20 "$work/vxcs.log")"
server_alive
log "security pipes over NT1, SMB 2.1 and sealed 3.1.1 with impacket: ok"

admin='boss%Boss#1' plain='alice%Alice#1'
for run in NT1:off SMB2_10:sign SMB3_11:encrypt; do
  protocol=${run%:*} rpc_protection=${run#*:}
  out=$(rpc "$admin" "$protocol" lsaquery) || true
  grep -q "Domain Name: ROUTER" <<< "$out" && grep -q "Domain Sid: S-1-5-21-" <<< "$out" ||
    fail "lsaquery $run: $out"
  out=$(rpc "$plain" "$protocol" dsroledominfo) || true
  grep -q "Machine Role = \[2\]" <<< "$out" || fail "dsroledominfo $run: $out"
  # samr commands ask for MAXIMUM_ALLOWED, which the server does not grant;
  # lookupnames is not served. Each is refused with a status, nothing changes.
  before=$(cat /var/run/cifs/pwd_list.txt)
  for command in enumdomusers 'queryuser 1' 'enumalsgroups builtin' 'createdomuser erin' \
    'setuserinfo2 boss 23 Other#23' 'setuserinfo2 boss 25 Other#25' 'lookupnames alice'; do
    for user in "$admin" "$plain"; do
      out=$(rpc "$user" "$protocol" "$command") || true
      grep -q "result was NT_STATUS_\|NT_STATUS_RPC_PROCNUM_OUT_OF_RANGE" <<< "$out" ||
        fail "rpcclient $command as ${user%%%*} over $run not refused cleanly: $out"
    done
  done
  [ "$(cat /var/run/cifs/pwd_list.txt)" = "$before" ] || fail "refused samr commands changed the users over $run"
  server_alive
done
log "rpcclient lsaquery and dsroledominfo over NT1, SMB 2.1 signed and 3.1.1 sealed; samr commands and lookupnames refused cleanly: ok"
