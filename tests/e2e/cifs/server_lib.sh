# The real SMB server as scenarios start it: vxnd, then the vxcs runner once
# vxnd is ready, both logging into $work and stopped when the scenario ends.
# Source after tests/harness/lib.sh and require_scenario_ns.
#
#   server_start VXND VXCS [VXCS OPTION...]
#     sets $work (a fresh folder), $server (vxcs's pid) and $nd (vxnd's pid);
#     /var/run/cifs/cs_cfg.txt is written beforehand when $shares is set
#     (lines "Name;path;comment"), else left as the scenario wrote it.
#   vxcs_start VXCS [OPTION...]: vxcs again beside the running vxnd.
#   server_alive: vxcs still runs and the sanitizers said nothing.
#   server_stop: SIGTERM, exit 0 expected.

SERVER_ID=001122334455

work=${work:-$(mktemp -d)}
mkdir -p /var/run/cifs

server_start() {
  local vxnd=$1
  shift
  [ -z "${shares:-}" ] || printf '%s\n' "$shares" > /var/run/cifs/cs_cfg.txt
  "$vxnd" -i "$SERVER_ID" > "$work/vxnd.log" 2>&1 &
  nd=$!
  on_exit quiet_kill "$nd"
  wait_line "$work/vxnd.log" "VXND: server is ready"
  vxcs_start "$@"
}

# vxcs_start VXCS [OPTION...]: the runner alone, beside a running vxnd (after
# server_stop); its log starts afresh.
vxcs_start() {
  local vxcs=$1
  shift
  "$vxcs" -i "$SERVER_ID" "$@" > "$work/vxcs.log" 2>&1 &
  server=$!
  on_exit quiet_kill "$server"
  wait_line "$work/vxcs.log" "VXCS: server is ready"
  wait_port tcp 445
}

server_alive() {
  kill -0 "$server" || fail "vxcs died: $(cat "$work/vxcs.log")"
  ! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
}

server_stop() {
  local rc=0
  kill -TERM "$server"
  wait "$server" || rc=$?
  expect "vxcs SIGTERM exit" "$rc" 0
  ! grep -q "Sanitizer" "$work/vxcs.log" || fail "sanitizer report: $(cat "$work/vxcs.log")"
}
