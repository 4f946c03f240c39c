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
. "$FW_SOURCE_DIR/cifs/server/bench/lib_compare.sh"
start_vxcs
hash=$(/usr/bin/python3 -c "from impacket.ntlm import compute_nthash; print(compute_nthash(\"Secret#1\").hex())")
"$FW_BUILD_DIR/cifs/tools/vxcsctrl" adduser root "$hash" > /dev/null
mkdir "$work/smbshare" "$work/local"
start_smbd NT1 "$work/smbshare"
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
