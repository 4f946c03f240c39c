# Helpers of the xDSL driver scenarios, benchmarks and scripts/run.d: the
# device host, the chip simulator, requests through vdslreq and the binary
# driver image upload. Needs lib.sh already sourced and the paths of the
# tools in $devhost, $vdslreq, $chipsim and $chipsimctl.

# start_devhost: the driver's device host, its kernel log in /tmp/klog.
start_devhost() {
  "$devhost" 2> /tmp/klog &
  devhost_pid=$!
  on_exit kill "$devhost_pid"
  wait_until 4 test -S /var/run/vdsl.sock || fail "device host did not start: $(cat /tmp/klog)"
}

# start_chip [--untraced] [OPTIONS]: the simulator on host "chip", tracing
# into /tmp/chip-trace unless --untraced (the benchmarks measure without it).
start_chip() {
  local trace=(--trace)
  if [ "${1:-}" = --untraced ]; then
    trace=()
    shift
  fi
  ns_add_host chip 10.62.0.2/24 10.62.0.1/24
  mgt=$(ns_if chip)
  ns_exec chip "$chipsim" --iface eth0 "${trace[@]}" "$@" > /tmp/chip-trace 2> /tmp/chip-log &
  on_exit kill $!
  wait_line /tmp/chip-log ready 4
}

# start_driver IMAGE: the device host on the simulator's management link,
# the port idle, and the binary driver image loaded.
start_driver() {
  start_devhost
  expect_result 0 0x7660 --size 64 --str 0 "$mgt"
  expect_result 0 0x7632 --hex 0 0003                          # signature read: port idle
  load_bindrv "$1" 0
}

# one_cpu: the script and all it starts on one CPU, as on the board: on a
# virtual machine a wake-up across CPUs costs more than the request it carries.
one_cpu() { taskset -cp "$(taskset -cp $$ | sed 's/.*: //; s/[-,].*//')" $$ > /dev/null; }

# bench CMD...: a bench command to the simulator; prints its answer.
bench() { "$chipsimctl" "$mgt" "$@" || fail "bench command failed: $*"; }

# req ARGS...: one request through vdslreq; sets $result and $answer (the
# lines after the result).
req() {
  local out
  out=$("$vdslreq" "$@") || fail "vdslreq $* failed"
  result=$(sed -n 's/^result=//p' <<< "$out")
  answer=$(sed -n '2,$p' <<< "$out")
}

# expect_result RESULT ARGS...: one request that must answer RESULT.
expect_result() {
  local want=$1
  shift
  req "$@"
  [ "$result" = "$want" ] || fail "vdslreq $* answered $result, not $want"
}

# hex24 VALUE: three bytes as hex for a block.
hex24() { printf '%06x' "$1"; }

# ms: a monotonic clock in milliseconds.
ms() { echo $(( $(date +%s%N) / 1000000 )); }

# load_bindrv FILE RESULT: the binary driver image in phases 1, 2 (one
# request per 512-byte chunk) and 3; phase 3 answers RESULT.
load_bindrv() {
  local file=$1 want=$2 size off n
  size=$(stat -c %s "$file")
  expect_result 0 0x7633 --hex 0 010000
  for ((off = 0; off < size; off += 512)); do
    n=$(( size - off < 512 ? size - off : 512 ))
    expect_result 0 0x7633 --hex 0 "02$(printf '%04x' "$n")" --file 3 "$file" "$off" "$n"
  done
  expect_result "$want" 0x7633 --hex 0 030000
}
