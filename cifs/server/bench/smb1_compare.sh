#!/usr/bin/env bash
# vxcs beside Samba's smbd over SMB1 (NT1), in one namespace: smbclient puts
# and gets a file of SIZE MiB, plain (direct transfer) and signed, against
# each, and prints MiB/s with the ratio.
#   cifs/server/bench/smb1_compare.sh [build-dir] [size-MiB]
# The build folder's vxcs and vxnd are used as they are: a release build
# (-DFW_SANITIZE=OFF) gives figures worth comparing.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
size=${2:-64}
for p in "$build/cifs/tools/vxnd" "$build/platform/vxcs/vxcs" "$build/cifs/tools/vxcsctrl"; do
  [ -x "$p" ] || { echo "no $p: build vxnd, vxcs and vxcsctrl in $build first" >&2; exit 2; }
done
command -v smbd > /dev/null || { echo "smbd (Debian package samba) is needed" >&2; exit 2; }
export FW_BUILD_DIR=$build FW_SOURCE_DIR=$root BENCH_SIZE=$size
exec "$root/tests/harness/nsrun" --hostname router -- bash -c '
set -euo pipefail
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
mkdir -p /var/run/cifs "$work/share" "$work/smbshare" "$work/local" "$work/samba"/{private,lock,state,cache,pid,ncalrpc,bind-dns}
printf "Share;%s;Files\n" "$work/share" > /var/run/cifs/cs_cfg.txt
"$FW_BUILD_DIR/cifs/tools/vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
wait_line "$work/vxnd.log" "VXND: server is ready"
"$FW_BUILD_DIR/platform/vxcs/vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
wait_line "$work/vxcs.log" "VXCS: server is ready"
hash=$(/usr/bin/python3 -c "from impacket.ntlm import compute_nthash; print(compute_nthash(\"Secret#1\").hex())")
"$FW_BUILD_DIR/cifs/tools/vxcsctrl" adduser root "$hash" > /dev/null
s=$work/samba
cat > "$s/smb.conf" <<CONF
[global]
  smb ports = 4450
  server min protocol = NT1
  private dir = $s/private
  lock directory = $s/lock
  state directory = $s/state
  cache directory = $s/cache
  pid directory = $s/pid
  ncalrpc dir = $s/ncalrpc
  binddns dir = $s/bind-dns
  passdb backend = tdbsam:$s/private/passdb.tdb
  log file = $s/smbd.log
  load printers = no
  disable spoolss = yes
[Share]
  path = $work/smbshare
  read only = no
CONF
printf "Secret#1\nSecret#1\n" | smbpasswd -c "$s/smb.conf" -s -a root > /dev/null
smbd -F --no-process-group -s "$s/smb.conf" > "$s/stdout.log" 2>&1 &
wait_until 10 _listens -Hltn 4450 "" || { cat "$s/stdout.log" "$s/smbd.log"; exit 1; }
cd "$work/local"
head -c $((BENCH_SIZE * 1024 * 1024)) /dev/urandom > payload
# MiB/s of one smbclient command against a port, with a protection.
rate() {
  local start end
  start=$(date +%s.%N)
  smbclient //127.0.0.1/Share -p "$1" -U root%Secret#1 -m NT1 --option="client min protocol=NT1" \
    --client-protection="$2" -c "$3" > /dev/null 2>&1
  end=$(date +%s.%N)
  echo "$BENCH_SIZE / ($end - $start)" | bc -l
}
printf "%-12s %10s %10s %7s\n" "SMB1 $BENCH_SIZE MiB" "vxcs MiB/s" "smbd MiB/s" ratio
for protection in off sign; do
  for op in put get; do
    cmd="put payload p"
    [ "$op" = get ] && cmd="get p back"
    ours=$(rate 445 "$protection" "$cmd")
    theirs=$(rate 4450 "$protection" "$cmd")
    printf "%-12s %10.1f %10.1f %7.2f\n" "$op $protection" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
  done
done
'
