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

nthash() { /usr/bin/python3 -c "from impacket.ntlm import compute_nthash; print(compute_nthash('$1').hex())"; }
"$ctl" +U boss "Boss" "The boss" "$(nthash 'Boss#1')" A > "$work/ctl.log" 2>&1 || fail "add boss: $(cat "$work/ctl.log")"
"$ctl" +U alice "Alice" "A user" "$(nthash 'Alice#1')" > "$work/ctl.log" 2>&1 || fail "add alice: $(cat "$work/ctl.log")"

/usr/bin/python3 "$clients" "$ctl" || fail "clients: vxcs log: $(tail -20 "$work/vxcs.log")"
server_alive
log "security pipes over NT1, SMB 2.1 and sealed 3.1.1 with impacket: ok"

# rpcclient USER PROTOCOL [PROTECTION] COMMANDS: its output; the exit code in $rc.
rpc() {
  local user=$1 protocol=$2 protection=off
  shift 2
  [ $# -gt 1 ] && { protection=$1; shift; }
  rc=0
  out=$(timeout 30 rpcclient 127.0.0.1 -U "$user" --client-protection="$protection" \
    --option="client ipc max protocol=$protocol" --option="client ipc min protocol=$protocol" -c "$1" 2>&1) || rc=$?
}
admin='boss%Boss#1' plain='alice%Alice#1'
for run in NT1:off SMB2_10:sign SMB3_11:encrypt; do
  protocol=${run%:*} protection=${run#*:}
  rpc "$admin" "$protocol" "$protection" lsaquery
  grep -q "Domain Name: ROUTER" <<< "$out" && grep -q "Domain Sid: S-1-5-21-" <<< "$out" ||
    fail "lsaquery $run: $out"
  rpc "$plain" "$protocol" "$protection" dsroledominfo
  grep -q "Machine Role = \[2\]" <<< "$out" || fail "dsroledominfo $run: $out"
  # samr commands ask for MAXIMUM_ALLOWED, which the server does not grant;
  # lookupnames is not served. Each is refused with a status, nothing changes.
  before=$(cat /var/run/cifs/pwd_list.txt)
  for command in enumdomusers 'queryuser 1' 'enumalsgroups builtin' 'createdomuser erin' \
    'setuserinfo2 boss 23 Other#23' 'setuserinfo2 boss 25 Other#25' 'lookupnames alice'; do
    for user in "$admin" "$plain"; do
      rpc "$user" "$protocol" "$protection" "$command"
      grep -q "result was NT_STATUS_\|NT_STATUS_RPC_PROCNUM_OUT_OF_RANGE" <<< "$out" ||
        fail "rpcclient $command as ${user%%%*} over $run not refused cleanly (rc $rc): $out"
    done
  done
  [ "$(cat /var/run/cifs/pwd_list.txt)" = "$before" ] || fail "refused samr commands changed the users over $run"
  server_alive
done
log "rpcclient lsaquery and dsroledominfo over NT1, SMB 2.1 signed and 3.1.1 sealed; samr commands and lookupnames refused cleanly: ok"
