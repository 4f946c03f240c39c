#!/usr/bin/env bash
# 1,000 NetrShareEnum level 1 calls on one connection to our server service
# and to Samba's, each serving the same 15 shares over ncacn_ip_tcp, in
# alternating rounds within one run; prints both times and their ratio.
# Then the same calls through the srvsvc pipe of an SMB 2.1 connection, to
# vxcs (with vxnd) on port 445 and to smbd on port 4450, when the build
# folder has vxcs and vxnd.
#
#   cifs/rpc/bench/compare.sh BUILD_DIR [CALLS]
#
# BUILD_DIR: any build folder with the test programs (a release build gives
# the fair figure). Runs in namespaces of its own (tests/harness/nsrun).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$(cd "${1:?usage: compare.sh BUILD_DIR [CALLS]}" && pwd)
calls=${2:-1000}
probe=$build/tests/e2e/cifs/cifs_rpc_pipe_probe
[ -x "$probe" ] || { echo "no $probe: build the target cifs_rpc_pipe_probe" >&2; exit 1; }
if [ "${NSRUN_INNER:-}" != 1 ]; then
  NSRUN_INNER=1 exec "$root/tests/harness/nsrun" --hostname router -- env NSRUN_INNER=1 bash "$0" "$build" "$calls"
fi

D=/tmp/smbd-bench
mkdir -p $D/{priv,lock,state,cache,run,log,share}
shares=()
{
  echo "[global]"
  for key in "workgroup = WORKGROUP" "netbios name = ROUTER" "private dir = $D/priv" "lock directory = $D/lock" \
             "state directory = $D/state" "cache directory = $D/cache" "pid directory = $D/run" \
             "ncalrpc dir = $D/run/ncalrpc" "log file = $D/log/%m.log" "interfaces = lo" "bind interfaces only = yes" \
             "rpc start on demand helpers = no" "map to guest = Bad User" "server role = standalone server" \
             "log level = 0" "smb ports = 4450"; do
    echo "  $key"
  done
  # IPC$ and 14 disk shares on both sides.
  for i in $(seq 0 13); do
    printf '[share%d]\n  path = %s\n  comment = share number %d\n  guest ok = yes\n' "$i" "$D/share" "$i"
  done
} > $D/smb.conf
for i in $(seq 0 12); do shares+=("share$i;$D/share;share number $i"); done

smbd -F --configfile=$D/smb.conf > $D/smbd.out 2>&1 &
/usr/libexec/samba/samba-dcerpcd --configfile=$D/smb.conf --libexec-rpcds -F > $D/dcerpcd.out 2>&1 &
"$probe" 7001:srvsvc:admin -- "${shares[@]}" > $D/probe.out 2>&1 &
for _ in $(seq 50); do
  ss -ltn | grep -q ':135 ' && grep -q ready $D/probe.out && break
  sleep 0.2
done

vxnd=$build/cifs/tools/vxnd vxcs=$build/platform/vxcs/vxcs smb_port=
if [ -x "$vxnd" ] && [ -x "$vxcs" ]; then
  . "$root/tests/e2e/cifs/lib_server.sh"
  require_scenario_ns
  shares=$(printf '%s\n' "${shares[@]}")
  server_start "$vxnd" "$vxcs"
  printf 'alice:Secret#1:-1000:0\n' > /var/run/cifs/pwd_list.txt
  wait_port tcp 4450
  smb_port=4450
fi
/usr/bin/python3 "$here/srvsvc_bench.py" 7001 "$calls" $smb_port
