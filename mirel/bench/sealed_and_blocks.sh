#!/usr/bin/env bash
# Sealed and block-wise exchanges of the Mirel endpoint, beside libcoap's
# tools for block-wise transfer, in a namespace of its own:
#   mirel/bench/sealed_and_blocks.sh [--build DIR] [--length SECONDS] [--rounds N]
# Builds a release into build/bench unless --build names a build folder.
# Reports, Mirel client against Mirel server on loopback (one CPU and
# split): confirmable GETs per second in clear and sealed, one at a time
# and 64 in flight, with the ratio sealed / clear; the handshake's cost as
# the first sealed exchange minus the first clear one (median of the
# rounds). Then 1 MiB GET bodies: Mirel (selective repeat, 1024-byte
# blocks) and coap-client-notls -b 1024 against coap-server-notls (RFC 7959)
# on loopback and through the relay with 1 ms each way, and Mirel through
# the relay with 5% loss against its loss-free time.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

. "$root/mirel/bench/lib_bench.sh"
bench_start "mirel_node udp_relay" "$@"
node=$(find "$build" -name mirel_node -type f -perm -u+x | head -1)
relay=$(find "$build" -name udp_relay -type f -perm -u+x | head -1)
[ -n "$node" ] && [ -n "$relay" ] || fail "mirel_node or udp_relay not built in $build"
work=$(mktemp -d)
key_a=77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a
key_b=5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
now_ms() { date +%s%3N; }

"$node" serve 127.0.0.1 --key "$key_b" >"$work/mirel.out" 2>&1 &
server=$!
on_exit bash -c "kill $server 2>/dev/null || true"
wait_port udp 5683

echo "Mirel sealed against clear (confirmable GETs of 5 bytes, ${length} s, median of $rounds)"
printf '%-6s %-12s %10s %10s %7s\n' layout load clear sealed ratio
declare -a hs
for layout in one split; do
  cpu=0
  [ $layout = split ] && cpu=1
  taskset -a -p -c 0 "$server" >/dev/null
  for window in 1 64; do
    c=() s=()
    for r in $(seq 1 "$rounds"); do
      out=$(taskset -c $cpu "$node" bench 127.0.0.1 127.0.0.1 $window "$length" --port 5690 /hello)
      c+=("$(field per_second <<< "$out")")
      first_clear=$(field first_ms <<< "$out")
      out=$(taskset -c $cpu "$node" bench 127.0.0.1 127.0.0.1 $window "$length" --port 5690 \
        --key "$key_a" --secure /hello)
      s+=("$(field per_second <<< "$out")")
      hs+=("$(awk -v a="$(field first_ms <<< "$out")" -v b="$first_clear" 'BEGIN { printf "%.3f", a - b }')")
    done
    label=sequential
    [ $window = 64 ] && label="64 in flight"
    mc=$(median "${c[@]}") ms=$(median "${s[@]}")
    printf '%-6s %-12s %10s %10s %7s\n' $layout "$label" "$mc" "$ms" "$(ratio "$ms" "$mc")"
  done
done
echo "handshake: first sealed exchange minus first clear one, median $(median "${hs[@]}") ms"
kill "$server"
wait "$server" 2>/dev/null || true

# 1 MiB bodies.
head -c 1048576 /dev/urandom >"$work/big"
get_mirel() { # ADDR PEER [relay-side]: ms for one 1 MiB GET
  local t0 t1 out
  t0=$(now_ms)
  out=$("$@" get '/blob?n=1048576')
  t1=$(now_ms)
  grep -q 'len=1048576' <<< "$out" || { echo "fail"; return; }
  echo $((t1 - t0))
}
get_libcoap() { # CMD... URI: ms for one 1 MiB GET with RFC 7959 blocks of 1024
  local t0 t1
  rm -f "$work/got"
  t0=$(now_ms)
  "${@:1:$#-1}" -o "$work/got" "${@: -1}" >/dev/null
  t1=$(now_ms)
  cmp -s "$work/got" "$work/big" || { echo "fail"; return; }
  echo $((t1 - t0))
}
series() { # N CMD...: median of N runs
  local n=$1 v=()
  shift
  for _ in $(seq 1 "$n"); do v+=("$("$@")"); done
  median "${v[@]}"
}
kbps() { awk -v ms="$1" 'BEGIN { if (ms + 0 > 0) printf "%.0f", 1024 * 1000 / ms; else print "-" }'; }

echo
echo "1 MiB GET bodies (ms, median of $rounds; KiB/s)"
"$node" serve 127.0.0.1 >"$work/mirel.out" 2>&1 &
server=$!
wait_port udp 5683
m_lo=$(series "$rounds" get_mirel "$node" ask 127.0.0.1 127.0.0.1 --port 5690 --timeout 60)
kill "$server"; wait "$server" 2>/dev/null || true
coap-server-notls -A 127.0.0.1 -p 5683 -d 4 -v 0 >"$work/libcoap.out" 2>&1 &
server=$!
wait_port udp 5683
coap-client-notls -m put -b 1024 -f "$work/big" coap://127.0.0.1/big >/dev/null
l_lo=$(series "$rounds" get_libcoap coap-client-notls -b 1024 -B 60 -m get coap://127.0.0.1/big)
kill "$server"; wait "$server" 2>/dev/null || true
printf '%-32s %8s ms %8s KiB/s\n' "Mirel, loopback" "$m_lo" "$(kbps "$m_lo")"
printf '%-32s %8s ms %8s KiB/s   Mirel/libcoap rate %s\n' "libcoap -b 1024, loopback" "$l_lo" \
  "$(kbps "$l_lo")" "$(ratio "$l_lo" "$m_lo")"

ns_add_host ha 10.9.1.2/24 10.9.1.1/24
ns_add_host hb 10.9.2.2/24 10.9.2.1/24
relay_run() { # relay options, then the command
  local opts=() r
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  "$relay" --a 10.9.1.1:5683 --to-a learn --b 10.9.2.1:5683 --to-b 10.9.2.2:5683 \
    --log /dev/null "${opts[@]}" &
  r=$!
  sleep 0.2
  "$@"
  kill $r; wait $r 2>/dev/null || true
}
# ip netns exec straight, so that $! is the server itself.
ip netns exec hb "$node" serve 10.9.2.2 >"$work/mirel-hb.out" 2>&1 &
server=$!
wait_port udp 5683 10 hb
m_d=$(series "$rounds" relay_run --delay 1 -- get_mirel ns_exec ha "$node" ask 10.9.1.2 10.9.1.1 --timeout 120)
m_l=$(series "$rounds" relay_run --delay 1 --drop 0.05 --seed 9 -- \
  get_mirel ns_exec ha "$node" ask 10.9.1.2 10.9.1.1 --timeout 120)
kill "$server"; wait "$server" 2>/dev/null || true
ip netns exec hb coap-server-notls -A 10.9.2.2 -p 5683 -d 4 -v 0 >"$work/libcoap-hb.out" 2>&1 &
server=$!
wait_port udp 5683 10 hb
ns_exec hb coap-client-notls -m put -b 1024 -f "$work/big" coap://10.9.2.2/big >/dev/null
l_d=$(series "$rounds" relay_run --delay 1 -- \
  get_libcoap ns_exec ha coap-client-notls -b 1024 -B 120 -m get coap://10.9.1.1/big)
kill "$server"; wait "$server" 2>/dev/null || true
printf '%-32s %8s ms %8s KiB/s\n' "Mirel, relay 1 ms each way" "$m_d" "$(kbps "$m_d")"
printf '%-32s %8s ms %8s KiB/s   Mirel/libcoap rate %s\n' "libcoap -b 1024, relay 1 ms" "$l_d" \
  "$(kbps "$l_d")" "$(ratio "$l_d" "$m_d")"
printf '%-32s %8s ms %8s KiB/s   time against loss-free %s\n' "Mirel, relay 1 ms, 5% loss" "$m_l" \
  "$(kbps "$m_l")" "$(ratio "$m_l" "$m_d")"
