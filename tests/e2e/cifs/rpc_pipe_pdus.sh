#!/usr/bin/env bash
# Crafted DCE/RPC PDUs through real SMB pipe carriers: vxnd and vxcs in
# namespaces of their own, impacket's raw pipe writes, reads and
# transactions over SMB1, SMB 2.1 and sealed SMB 3.1.1 (rpc_pipe_pdus.py).
# The server stays up and silent under the sanitizers and serves smbclient
# afterwards.
set -euo pipefail
vxnd=$1 vxcs=$2 clients=$3
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

# Long remarks make a share list of several minimal fragments.
long=$(printf 'r%.0s' {1..200})
mkdir -p "$work/docs"
shares=$(printf 'docs;%s;my documents' "$work/docs"
  for i in 0 1 2 3 4 5 6 7; do
    mkdir -p "$work/s$i"
    printf '\nshare%s;%s;%s' "$i" "$work/s$i" "$long"
  done)
server_start "$vxnd" "$vxcs"
printf 'alice:Secret#1:-1000:0\n' > /var/run/cifs/pwd_list.txt

/usr/bin/python3 "$clients" 'alice%Secret#1' || fail "crafted PDUs: vxcs log: $(tail -20 "$work/vxcs.log")"
server_alive
timeout 30 smbclient -L //127.0.0.1 -U 'alice%Secret#1' -m SMB3_11 > "$work/list.log" 2>&1 ||
  fail "smbclient -L afterwards: $(cat "$work/list.log")"
grep -q 'share7' "$work/list.log" || fail "smbclient -L afterwards: $(cat "$work/list.log")"
server_stop
log "crafted PDUs over SMB1, SMB2.1 and SMB3 pipes: answered or refused as they should, server intact"
