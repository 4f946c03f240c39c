# The real SMB server as scenarios start it, on top of the harness helpers:
# vxnd, then the vxcs runner once vxnd is ready, both logging into $work and
# stopped when the scenario ends.
#
#   server_start VXND VXCS [VXCS OPTION...]
#     sets $server (vxcs's pid) and $nd (vxnd's pid); writes
#     /var/run/cifs/cs_cfg.txt beforehand when $shares is set (lines
#     "Name;path;comment"), else leaves it as the scenario wrote it. With
#     $vxcs_preload set, that library is preloaded into vxcs.
#   vxcs_start VXCS [OPTION...]: vxcs again beside the running vxnd.
#   server_alive: vxcs still runs and the sanitizers said nothing.
#   server_stop: SIGTERM, exit 0 expected.
#   share_and_peer: the one share "Share" on $work/share, and a peer host.
#   add_user NAME PASSWORD: a user known to vxcs by its NT hash ($ctl is the
#     control tool); nt_hash PASSWORD prints that hash.
#   rpc USER PROTOCOL COMMANDS: rpcclient's output with the IPC connection
#     held to that protocol, its exit status; with $rpc_protection set (off,
#     sign, encrypt), that protection.
#   torture_tests SHARE_URL ALLOW [SMBTORTURE_OPTION...] -- TEST...: whole
#     smbtorture tests against the running vxcs, see below.
. "$(dirname "${BASH_SOURCE[0]}")/../../harness/lib.sh"

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

# A preloaded library goes after a sanitizer's runtime, which must come first.
vxcs_start() {
  local vxcs=$1 asan
  shift
  if [ -n "${vxcs_preload:-}" ]; then
    asan=$(ldd "$vxcs" | awk '/libasan/ {print $3}')
    LD_PRELOAD="${asan:+$asan:}$vxcs_preload" "$vxcs" -i "$SERVER_ID" "$@" > "$work/vxcs.log" 2>&1 &
  else
    "$vxcs" -i "$SERVER_ID" "$@" > "$work/vxcs.log" 2>&1 &
  fi
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

share_and_peer() {
  mkdir -p "$work/share"
  printf 'Share;%s;Test share\n' "$work/share" > /var/run/cifs/cs_cfg.txt
  ns_add_host peer 192.168.61.2/24 192.168.61.1/24
}

nt_hash() { /usr/bin/python3 -c "from impacket.ntlm import compute_nthash; print(compute_nthash('$1').hex())"; }

add_user() {
  "$ctl" adduser "$1" "$(nt_hash "$2")" > "$work/ctl.log" 2>&1 || fail "adduser $1: $(cat "$work/ctl.log")"
}

rpc() {
  local user=$1 protocol=$2
  shift 2
  timeout 30 rpcclient 127.0.0.1 -U "$user" ${rpc_protection:+--client-protection="$rpc_protection"} \
    --option="client ipc max protocol=$protocol" --option="client ipc min protocol=$protocol" -c "$*" 2>&1
}

# torture_outcomes LOG ALLOW: smbtorture's outcomes in LOG against an
# allow-list (a name, a tab, then "pass" or the reason it may fail; a name
# ending in "*" gives the reason for every subtest it begins, an exact line
# wins). Pinned subtests must pass, any other may fail only for a reason, and
# one that passes while listed is reported so its line can go.
torture_outcomes() {
  local log_file=$1 allow=$2 results outcome name reason passed=0 allowed=0
  results=$(sed -n 's/^\(success\|failure\|error\): \(.*\)$/\1\t\2/p' "$log_file" | sed 's/ \[$//')
  [ -n "$results" ] || fail "smbtorture ran nothing: $(tail -20 "$log_file")"
  while IFS=$'\t' read -r outcome name; do
    reason=$(awk -F'\t' -v t="$name" '
      /^#/ { next }
      $1 == t { exact = $2 }
      !prefix && $1 ~ /\*$/ && index(t, substr($1, 1, length($1) - 1)) == 1 { prefix = $2 }
      END { print exact != "" ? exact : prefix }' "$allow")
    if [ "$outcome" = success ]; then
      passed=$((passed + 1))
      [ "$reason" = pass ] || log "smbtorture $name passes now: pin it"
    elif [ -z "$reason" ] || [ "$reason" = pass ]; then
      fail "smbtorture $name: $outcome: $(grep -A3 "^$outcome: $name" "$log_file")"
    else
      allowed=$((allowed + 1))
    fi
  done <<< "$results"
  while IFS=$'\t' read -r name reason; do
    [ "$reason" = pass ] || continue
    grep -qxF "success: $name" "$log_file" || fail "pinned smbtorture subtest $name did not pass"
  done < <(grep -v '^#' "$allow")
  log "smbtorture: $passed passed, $allowed failed as allowed"
}

# torture_tests SHARE_URL ALLOW [SMBTORTURE_OPTION...] -- TEST...: each whole
# smbtorture test passes, or fails as its allow-list line says. ALLOW has
# lines "test<TAB>words its failure must carry<TAB>reason" (the words may be
# empty, the reason may not); a listed failure without its words is an error,
# and a listed test that passes is reported so its line can go. A listed test
# gets a short time-out: some wait for an answer that never comes. vxcs must
# outlive every test without a sanitizer report.
torture_tests() {
  local url=$1 allow=$2 opts=() t words reason rc passed=0 allowed=0 bad
  shift 2
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    opts+=("$1")
    shift
  done
  [ $# -gt 1 ] || fail "torture_tests: no tests after --"
  shift
  bad=$(awk -F'\t' '/^(#|$)/ { next } NF != 3 || $3 == "" { print }' "$allow")
  [ -z "$bad" ] || fail "$allow: lines without a test, words and a reason: $bad"
  for t in "$@"; do
    words=$(awk -F'\t' -v t="$t" '$1 == t { print $2 }' "$allow")
    reason=$(awk -F'\t' -v t="$t" '$1 == t { print $3 }' "$allow")
    rc=0
    timeout "$([ -n "$reason" ] && echo 30 || echo 120)" smbtorture "$url" "${opts[@]}" "$t" \
      > "$work/$t.log" 2>&1 || rc=$?
    if [ "$rc" = 0 ]; then
      passed=$((passed + 1))
      if [ -n "$reason" ]; then log "$t passes now, its allow-list line can go ($reason)"; else log "$t: ok"; fi
    elif [ -n "$reason" ] && { [ -z "$words" ] || grep -qF -- "$words" "$work/$t.log"; }; then
      allowed=$((allowed + 1))
      log "$t fails as allowed: $reason"
    else
      fail "$t failed (exit $rc): $(grep -v '^time\|^progress\|^test:' "$work/$t.log" | tail -20)"
    fi
    kill -0 "$server" || fail "vxcs died in $t: $(tail -40 "$work/vxcs.log")"
  done
  server_alive
  log "smbtorture: $passed passed, $allowed failed as allowed, vxcs alive"
}
