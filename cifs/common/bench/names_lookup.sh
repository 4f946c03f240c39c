#!/usr/bin/env bash
# Host-name lookups through the stack's resolver and DNS client against the C
# library's getaddrinfo, side by side in one process, both asking dnsmasq on
# 192.168.19.2 (the hooks' DNS server) for A and AAAA, the resolver's cache
# off. Prints the mean time per lookup of each and ours as a multiple of the
# C library's. Runs in namespaces of its own.
#   cifs/common/bench/names_lookup.sh [build-dir] [count]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/bench-names}
count=${2:-2000}
if [ "${NAMES_BENCH_INNER:-}" != 1 ]; then
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_TESTS=ON >/dev/null
  cmake --build "$build" --target cifs_names_probe >/dev/null
  resolv=$(mktemp)
  trap 'rm -f "$resolv"' EXIT
  echo "nameserver 192.168.19.2" > "$resolv"
  NAMES_BENCH_INNER=1 exec "$root/tests/harness/nsrun" --hostname nas --file /etc/resolv.conf="$resolv" \
    -- bash "$0" "$build" "$count"
fi

. "$root/tests/harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)
echo corp.lan > /proc/sys/kernel/domainname
ns_add_host dns 192.168.19.2/24 192.168.19.1/24
ip netns exec dns dnsmasq -k --no-resolv --no-hosts --bind-interfaces --listen-address=192.168.19.2 \
  --user=root --pid-file="$work/dnsmasq.pid" --cache-size=1000 \
  --host-record=files.corp.lan,192.168.19.20,fd00::20 &
on_exit kill $!
wait_port udp 53 10 dns
printf 'init 2\ncache 0\nbench 100,files.corp.lan\nbench %s,files.corp.lan\nexit 2\n' "$count" |
  "$build/tests/e2e/cifs/cifs_names_probe" | sed -n 's/^> //p' | sed -n 4p |
  { read -r ours libc ratio
    printf '%-28s %10s %10s %7s\n' "lookup (A+AAAA, no cache)" "ours us" "libc us" "ratio"
    printf '%-28s %10s %10s %7s\n' "files.corp.lan x $count" "$ours" "$libc" "$ratio"; }
