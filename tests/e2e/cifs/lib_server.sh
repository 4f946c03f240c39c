# Server set-up shared by the CIFS scenarios, on top of the harness helpers.
# The caller sets work (its temporary folder) and, for add_user, ctl (the
# control tool) before using these.
. "$(dirname "${BASH_SOURCE[0]}")/../../harness/lib.sh"

# start_servers VXND VXCS [PRELOAD]: vxnd, then vxcs, each until it says it is
# ready; PRELOAD goes into vxcs after a sanitizer's runtime, which must come
# first. Sets server to vxcs's pid.
start_servers() {
  local vxnd=$1 vxcs=$2 preload=${3:-} asan
  "$vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
  on_exit quiet_kill "$!"
  wait_line "$work/vxnd.log" "VXND: server is ready"
  if [ -n "$preload" ]; then
    asan=$(ldd "$vxcs" | awk '/libasan/ {print $3}')
    LD_PRELOAD="${asan:+$asan:}$preload" "$vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
  else
    "$vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
  fi
  server=$!
  on_exit quiet_kill "$server"
  wait_line "$work/vxcs.log" "VXCS: server is ready"
}

# share_and_peer: the one share "Share" on $work/share, and a peer host.
share_and_peer() {
  mkdir -p /var/run/cifs "$work/share"
  printf 'Share;%s;Test share\n' "$work/share" > /var/run/cifs/cs_cfg.txt
  ns_add_host peer 192.168.61.2/24 192.168.61.1/24
}

# add_user NAME PASSWORD: a user known to vxcs by its NT hash.
add_user() {
  local hash
  hash=$(/usr/bin/python3 -c "from impacket.ntlm import compute_nthash; print(compute_nthash('$2').hex())")
  "$ctl" adduser "$1" "$hash" > "$work/ctl.log" 2>&1 || fail "adduser $1: $(cat "$work/ctl.log")"
}
