#!/usr/bin/env bash
# The security authority, account manager and registry over real SMB pipes:
# vxnd and vxcs in a namespace of their own, users added through the
# control channel, impacket over whichever dialects carry pipes (NT1 for
# now).
set -euo pipefail
vxnd=$1 vxcs=$2 ctl=$3 clients=$4
. "$(dirname "$0")/../../harness/lib.sh"
require_scenario_ns
command -v smbclient > /dev/null || { echo "no smbclient here: skipping" >&2; exit 77; }

work=$(mktemp -d)
mkdir -p /var/run/cifs "$work/share"
printf 'Share;%s;Test share\n' "$work/share" > /var/run/cifs/cs_cfg.txt

"$vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
on_exit quiet_kill "$!"
wait_line "$work/vxnd.log" "VXND: server is ready"
"$vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
server=$!
on_exit quiet_kill "$server"
wait_line "$work/vxcs.log" "VXCS: server is ready"
wait_port tcp 445

nthash() { /usr/bin/python3 -c "from impacket.ntlm import compute_nthash; print(compute_nthash('$1').hex())"; }
"$ctl" +U boss "Boss" "The boss" "$(nthash 'Boss#1')" A > "$work/ctl.log" 2>&1 || fail "add boss: $(cat "$work/ctl.log")"
"$ctl" +U alice "Alice" "A user" "$(nthash 'Alice#1')" > "$work/ctl.log" 2>&1 || fail "add alice: $(cat "$work/ctl.log")"

/usr/bin/python3 "$clients" "$ctl" || fail "clients: vxcs log: $(tail -20 "$work/vxcs.log")"

kill -0 "$server" || fail "vxcs died: $(cat "$work/vxcs.log")"
! grep -q Sanitizer "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
log "security pipes over SMB: ok"
