#!/usr/bin/env bash
# Benchmark (not a test): the profile store and the apply through the whole
# chain - druvel, the device host's transport, the driver, management frames
# on a veth and the chip simulator - beside the MIB read rate of
# bench_mib_reads.sh in the same run.
#   bench_profiles.sh BUILD_DIR [READS]
# Prints the time of one full template applied with the reconnect flag 0
# (54 line profile slots and 10 channel slots, each a device request) and of
# 300 records (30 of each type) made and saved at the shell's exit.
# Use a release build (cmake -DCMAKE_BUILD_TYPE=Release); needs root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" != --inside ]; then
  build=$(cd "${1:?usage: bench_profiles.sh BUILD_DIR [READS]}" && pwd)
  "$here/bench_mib_reads.sh" "$build" "${2:-2000}"
  exec "$here/../../harness/nsrun" --file /bin/cfgmgr="$build/platform/cfgmgr/cfgmgr" -- \
    bash "$here/bench_profiles.sh" --inside \
    "$build/xdsl/driver/vdsl_devhost" "$build/xdsl/driver/vdslreq" "$build/platform/chipsim/chipsim" \
    "$build/platform/chipsim/chipsimctl" "$build/xdsl/shell/druvel" "$build/xdsl/driver/vdsl_mkimage" \
    "$build/xdsl/shell/druvel_mkpackage"
fi
shift
. "$here/../vdsl/common.sh"
druvel=$5 mkimage=$6 mkpackage=$7

if [ "${BENCH_CPUS:-one}" = one ]; then
  one_cpu
fi

"$mkimage" /tmp/bindrv.bin /tmp/chip-setup > /dev/null
mount -t tmpfs tmpfs /lib/firmware
"$mkpackage" /lib/firmware/firmware_package.b --profile SYS_s 0.9.1=000001 --profile BND_b 0.9.35=40 \
  --profile VNS_v 0.9.27=000001 --profile PSD_p 0.10.14=5003e8 --profile RFI_r 0.9.5=000001 \
  --profile DPB_d 0.9.36=000001 --profile IOT_0 1.1.5=000000
start_chip --untraced --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin

printf '%s\n' "profiles line-template new T" "profiles line-profile new L" "profiles chan-profile new C" \
  "profiles line-template set line-profile T L" "profiles line-template set chan-profile T C" quit \
  | "$druvel" silent
"$druvel" "profiles port set line-template 1 T 0" > /dev/null || true   # warm-up
t0=$(ms)
${BENCH_WRAP:-} "$druvel" "profiles port set line-template 1 T 0" > /tmp/apply.out || true
t1=$(ms)
errors=$(grep -c "Error setting MIB value." /tmp/apply.out || true)
[ "$errors" = 0 ] || fail "the apply failed $errors writes: $(cat /tmp/apply.out)"
echo "druvel apply of one template (reconnect flag 0, 64 slots): $(( t1 - t0 )) ms per process (limit 1000 ms)"

words="line-template line-profile chan-profile alarm-template line-alarm-profile chan-alarm-profile"
for i in $(seq 30); do
  for w in $words; do echo "profiles $w new n$i"; done
  for w in vn dpb rfi psd; do echo "profiles pre-define $w-new n$i"; done
done > /tmp/make300.txt
echo quit >> /tmp/make300.txt
t0=$(ms)
"$druvel" silent < /tmp/make300.txt
t1=$(ms)
saved=$(grep -c '^"-w" "Vdsl' /var/run/cfgmgr/argv.log || true)
[ "$saved" -ge 300 ] || fail "only $saved records saved"
echo "druvel make and save of 300 records at exit: $(( t1 - t0 )) ms (limit 2000 ms)"
t0=$(ms)
"$druvel" "show line-profile" > /dev/null
t1=$(ms)
echo "druvel load of all 10 types (305 records) and a listing: $(( t1 - t0 )) ms"
