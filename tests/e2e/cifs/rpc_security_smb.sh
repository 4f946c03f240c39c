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
