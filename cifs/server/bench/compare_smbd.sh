#!/usr/bin/env bash
# vxcs beside Samba's smbd on data: both serve one tmpfs share behind the same
# veth, smbclient runs in a second namespace. Servers alternate run by run,
# after a warm-up; each figure is the median of the runs. Rows: get and put
# of a large file at 3.1.1 plain, signed, sealed with AES-128-GCM and
# AES-128-CCM, and at 2.0.2; ls of 10,000 names; create+close (puts of 100
# bytes); 10 concurrent gets; 50 clients. Our own one-core signing and cipher
# rates (cifs_crypto_bench, same build, taken just before the row) are
# printed beside the signed and sealed rows, since there the server can only
# be as fast as its crypto; so is vxcs's rate per second it ran on a core,
# which a busy host's waits do not lower.
#   cifs/server/bench/compare_smbd.sh [build-dir] [MiB] [runs]
# Defaults: build, 1024 MiB, 5 runs. Use a release build (-DFW_SANITIZE=OFF)
# with vxcs, vxnd and cifs_crypto_bench built.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-1024} runs=${3:-5}
for p in "$build/cifs/tools/vxnd" "$build/platform/vxcs/vxcs"; do
  [ -x "$p" ] || { echo "no $p: build vxnd and vxcs in $build first" >&2; exit 2; }
done
command -v smbd > /dev/null || { echo "smbd (Debian package samba) is needed" >&2; exit 2; }
command -v smbclient > /dev/null || { echo "smbclient is needed" >&2; exit 2; }
export FW_BUILD_DIR=$build FW_SOURCE_DIR=$root BENCH_MIB=$mib BENCH_RUNS=$runs
exec "$root/tests/harness/nsrun" --hostname router -- bash -c '
set -euo pipefail
. "$FW_SOURCE_DIR/cifs/server/bench/lib_compare.sh"
mount -t tmpfs -o size=80% tmpfs "$work"
mkdir -p "$work/share/many" "$work/client"
ns_add_host client 10.9.0.2/24 10.9.0.1/24
start_vxcs
printf "root:Secret#1:1000:0\n" > /var/run/cifs/pwd_list.txt
start_smbd SMB2_02 "$work/share" "smb2 max read = 65536" "smb2 max write = 65536" "smb2 max trans = 65536"

head -c $((BENCH_MIB << 20)) /dev/urandom > "$work/client/big"
head -c $(((BENCH_MIB / 4) << 20)) /dev/urandom > "$work/share/quarter"
head -c 100 /dev/urandom > "$work/client/small"
head -c 1048576 /dev/urandom > "$work/client/crowd"
(cd "$work/share/many" && seq -f "name-%05g.txt" 1 10000 | xargs touch)
cp "$work/client/big" "$work/share/big"
puts=""
for i in $(seq 1 1000); do puts+="put small cc/s$i; "; done

# smb SERVER ARGS...: smbclient from the client host to SERVER (vxcs|smbd).
smb() {
  local port=445
  [ "$1" = smbd ] && port=4450
  shift
  (cd "$work/client" && ns_exec client smbclient //10.9.0.1/Share -p "$port" -U "root%Secret#1" "$@" \
    > "$work/smb.out" 2>&1) || { cat "$work/smb.out" >&2; return 1; }
}
now() { date +%s.%N; }
# Nanoseconds vxcs has run on a core: crypto rates are per core-second too,
# and unlike the wall time this does not count the waits of a busy host.
cpu_ns() { read -r ran _ < "/proc/$vxcs_pid/schedstat"; echo "$ran"; }
# timed SERVER ARGS...: seconds one smbclient run takes; for vxcs also the
# core-seconds it spent, into $work/cpu.vxcs.
timed() {
  local t0 t1 c0 c1
  c0=$(cpu_ns)
  t0=$(now)
  smb "$@"
  t1=$(now)
  c1=$(cpu_ns)
  [ "$1" != vxcs ] || echo "($c1 - $c0) / 1000000000" | bc -l >> "$work/cpu.vxcs"
  echo "$t1 - $t0" | bc -l
}
median() { sort -g | awk "{a[NR]=\$1} END {print a[int((NR + 1) / 2)]}"; }
# measure NAME ARGS...: median seconds per server, servers alternating, after a warm-up.
measure() {
  local name=$1
  shift
  : > "$work/t.vxcs"
  : > "$work/t.smbd"
  : > "$work/cpu.vxcs"
  smb vxcs "$@" > /dev/null
  smb smbd "$@" > /dev/null
  for _ in $(seq 1 "$BENCH_RUNS"); do
    for server in vxcs smbd; do
      timed "$server" "$@" >> "$work/t.$server"
      rm -rf "$work/share/cc" "$work/share/up"
      mkdir -p "$work/share/cc"
    done
  done
  tv=$(median < "$work/t.vxcs")
  ts=$(median < "$work/t.smbd")
  cv=$(median < "$work/cpu.vxcs")
}
rate() { echo "$BENCH_MIB / $1 * 1.048576" | bc -l; }
row() { printf "%-30s %10.4g %10.4g %7.2f %s\n" "$1" "$2" "$3" "$4" "${5:-}"; }

# own ALGO: our one-core MB/s of the crypto a row needs, at the largest size,
# measured just before the row so that both see the host alike.
crypto=$FW_BUILD_DIR/cifs/common/crypto/cifs_crypto_bench
own() {
  [ -x "$crypto" ] || return 0
  "$crypto" --benchmark_filter="$1/ours/16384" --benchmark_format=json --benchmark_min_time=0.3 2>/dev/null |
    python3 -c "import json,sys; [print(b[\"bytes_per_second\"] / 1e6) for b in json.load(sys.stdin)[\"benchmarks\"]]"
}

mkdir -p "$work/share/cc"
echo "$BENCH_MIB MiB transfers, median of $BENCH_RUNS, servers alternating" >&2
printf "%-30s %10s %10s %7s %s\n" "row" "vxcs" "smbd" "ratio" \
  "(own crypto MB/s, ratio to it; vxcs MB per core-second, ratio to it)"
for row in "3.1.1 plain|SMB3_11|off|" "3.1.1 signed|SMB3_11|sign|Cmac" \
            "3.1.1 AES-128-GCM|SMB3_11|encrypt|Gcm" "3.1.1 AES-128-CCM|SMB3_11|encrypt|Ccm" \
            "2.0.2 plain|SMB2_02|off|"; do
  IFS="|" read -r label dialect protection algo <<< "$row"
  opts=(-m "$dialect" --client-protection="$protection")
  [ "$algo" = Gcm ] && opts+=(--option="client smb3 encryption algorithms=AES-128-GCM")
  [ "$algo" = Ccm ] && opts+=(--option="client smb3 encryption algorithms=AES-128-CCM")
  for dir in get put; do
    if [ $dir = get ]; then cmd="get big /dev/null"; else cmd="put big up"; fi
    mine=""
    [ -z "$algo" ] || mine=$(own "$algo")
    measure "$label $dir" "${opts[@]}" -c "$cmd"
    v=$(rate "$tv") m=$(rate "$ts") c=$(rate "$cv")
    extra=""
    if [ -n "$mine" ]; then
      extra=$(printf "(%.0f, %.2f; %.0f, %.2f)" "$mine" "$(echo "$v / $mine" | bc -l)" "$c" \
        "$(echo "$c / $mine" | bc -l)")
    fi
    row "$label $dir MB/s" "$v" "$m" "$(echo "$v / $m" | bc -l)" "$extra"
  done
done

measure ls -m SMB3_11 -c "cd many; ls"
row "ls of 10,000 names s" "$tv" "$ts" "$(echo "$tv / $ts" | bc -l)"
measure create -m SMB3_11 -c "$puts"
row "create+close (put 100 B) ms" "$tv" "$ts" "$(echo "$tv / $ts" | bc -l)"

# 10 concurrent gets of a quarter of the size each: the aggregate rate.
concurrent() {
  local t0 t1 pids=()
  t0=$(now)
  for i in $(seq 1 10); do
    smb "$1" -m SMB3_11 -c "get quarter /dev/null" & pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p"; done
  t1=$(now)
  echo "$BENCH_MIB / 4 * 10 * 1.048576 / ($t1 - $t0)" | bc -l
}
for server in vxcs smbd; do concurrent $server > /dev/null; done
: > "$work/c.vxcs"; : > "$work/c.smbd"
for _ in $(seq 1 "$BENCH_RUNS"); do
  for server in vxcs smbd; do concurrent $server >> "$work/c.$server"; done
done
v=$(median < "$work/c.vxcs") m=$(median < "$work/c.smbd")
row "10 concurrent gets MB/s" "$v" "$m" "$(echo "$v / $m" | bc -l)"

# 50 clients each putting and getting 1 MiB at once: seconds, and failures.
crowd() {
  local t0 t1 failed=0 pids=()
  t0=$(now)
  for i in $(seq 1 50); do
    (cd "$work/client" && ns_exec client smbclient //10.9.0.1/Share -p "$2" -U "root%Secret#1" -m SMB3_11 \
      -c "put crowd up$i; get up$i /dev/null" > /dev/null 2>&1) & pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
  t1=$(now)
  echo "$(echo "$t1 - $t0" | bc -l) $failed"
}
read -r tv fv <<< "$(crowd vxcs 445)"
read -r ts fs <<< "$(crowd smbd 4450)"
row "50 clients s (failed: $fv / $fs)" "$tv" "$ts" "$(echo "$tv / $ts" | bc -l)"
'
