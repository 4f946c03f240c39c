#!/usr/bin/env bash
# Address-to-name lookups by node status: nsGetHostName (through nbtool)
# beside Samba's nmblookup -A, both asking nmbd on 192.168.42.2 the same
# number of times from one process each. Prints the mean time per lookup of
# each and ours as a multiple of nmblookup's. Runs in namespaces of its own.
#   cifs/netbios/bench/node_status.sh [build-dir] [count]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/bench-netbios}
count=${2:-500}
if [ "${NODE_STATUS_BENCH_INNER:-}" != 1 ]; then
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_TESTS=ON >/dev/null
  cmake --build "$build" --target nbtool >/dev/null
  build=$(cd "$build" && pwd)
  NODE_STATUS_BENCH_INNER=1 exec "$root/tests/harness/nsrun" --hostname nas -- bash "$0" "$build" "$count"
fi

. "$root/tests/harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
tool=$(find "$build" -name nbtool -type f -perm -u+x | head -1)
[ -n "$tool" ] || fail "no nbtool in $build"

ns_add_host peer 192.168.42.2/24 192.168.42.1/24
mkdir -p "$work"/samba/{private,lock,state,cache,pid,ncalrpc} /run/samba
cat > "$work/smb.conf" <<EOF
[global]
  netbios name = PEERBOX
  interfaces = eth0
  bind interfaces only = yes
  private dir = $work/samba/private
  lock directory = $work/samba/lock
  state directory = $work/samba/state
  cache directory = $work/samba/cache
  pid directory = $work/samba/pid
  ncalrpc dir = $work/samba/ncalrpc
  log file = $work/samba/log.%m
  local master = no
EOF
ns_exec peer nmbd --foreground --no-process-group -s "$work/smb.conf" > "$work/nmbd.log" 2>&1 &
on_exit kill $!
for _ in $(seq 20); do
  [ "$(printf 'init 0 4\nhostname 192.168.42.2\n' | "$tool" | sed -n 's/^> //p' | tail -1)" = PEERBOX ] && break
  sleep 0.5
done

now() { date +%s%N; }
start=$(now)
{ echo "init 0 4"; for _ in $(seq "$count"); do echo "hostname 192.168.42.2"; done; } | "$tool" > "$work/ours.out"
ours=$(( ($(now) - start) / count ))
[ "$(grep -c '^> PEERBOX$' "$work/ours.out")" = "$count" ] || fail "not every lookup of ours answered"

addresses=$(for _ in $(seq "$count"); do printf '192.168.42.2 '; done)
start=$(now)
# shellcheck disable=SC2086
nmblookup -s "$work/smb.conf" -A $addresses > "$work/theirs.out" 2>&1
theirs=$(( ($(now) - start) / count ))
[ "$(grep -c 'PEERBOX.*<20>' "$work/theirs.out")" = "$count" ] || fail "not every lookup of nmblookup answered"

printf 'node status lookups: %d each\n' "$count"
printf 'ours (nsGetHostName): %d us per lookup\n' $((ours / 1000))
printf 'nmblookup -A:         %d us per lookup\n' $((theirs / 1000))
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ours / nmblookup: %.2f\n", a / b }'
