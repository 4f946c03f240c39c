#!/usr/bin/env bash
# Batch oplocks across SMB1 and SMB2 on vxcs with vxnd beside it: impacket's
# SMB1 and SMB2 clients take turns holding a file the other opens; each
# holder is broken, acknowledges, and the waiting open completes.
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3
. "$(dirname "$0")/lib_server.sh"
require_scenario_ns
/usr/bin/python3 -c 'import impacket' 2> /dev/null || { echo "no impacket here: skipping" >&2; exit 77; }

share_and_peer
server_start "$vxnd" "$vxcs"
add_user alice 'Secret#1'
timeout 60 /usr/bin/python3 "$(dirname "$0")/smb1_oplocks.py" "$work/share" || fail "oplocks across protocols"
server_alive
log "oplocks across SMB1 and SMB2: ok"
