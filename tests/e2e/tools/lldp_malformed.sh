#!/usr/bin/env bash
# Hand-made LLDPDUs from a raw socket: which ones lldprecv reports, and that
# none of the broken ones stops it.
set -euo pipefail
. "$(dirname "$0")/../../harness/lib.sh"
. "$(dirname "$0")/lib_lldp.sh"
require_scenario_ns
lldprecv=$2
inject=$(dirname "$0")/l2inject.py

add_user lldptest 4711
report_script
ns_add_host peer 10.73.0.2/24 10.73.0.1/24
src=$(ns_mac - veth-peer | tr -d :)
peer_idx=$(ns_exec peer cat /sys/class/net/eth0/ifindex)
# A small quarantine, so that the sanitizer's store of freed blocks does not
# stand for what lldprecv keeps under the flood below.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=8" ip netns exec peer "$lldprecv" -u lldptest &
receiver=$!
wait_dropped "$receiver" 4711

chassis=$(tlv 1 "04$src")
end=$(tlv 0 "")
desc() { tlv 6 "$(hex "$1")"; }
zmo() { tlv 127 "5a4d4f$1"; }
frame() { echo "0180c200000e${src}88cc$1"; }
send() { /usr/bin/python3 "$inject" send veth-peer "$@"; }

# Frames that must give no report at all.
send \
  "$(frame "$(tlv 1 "07$(hex router1)")$(desc chassis7)$end")" \
  "$(frame "$(tlv 1 "04${src:0:10}")$(desc chassis6)$end")" \
  "$(frame "$(tlv 1 "04")$(desc chassis1)$end")" \
  "$(frame "$chassis$(desc ipv6)$(tlv 8 "1102fe800000000000000000000000000001020000000100")$end")" \
  "$(frame "$chassis$(desc shortaddr)$(tlv 8 "0501c0a8")$end")" \
  "$(frame "02")" \
  "0180c200000e${src}88b5$chassis$(desc otherethertype)$end"

# Frames that are reported, as far as they can be read.
send \
  "$(frame "$chassis$(desc truncated)$(zmo "01$(hex router)" | cut -c1-10)")" \
  "$(frame "$chassis$(desc overlong)$(tlv 127 "5a4d4f01$(hex client)" 400)")" \
  "$(frame "$chassis$(desc shortorg)$(tlv 127 "5a4d4f")$(tlv 127 "5a4d")$end")" \
  "$(frame "$chassis$(desc longmode)$(zmo "01$(hex 0123456789abcdef0123456789abcdef)")$end")" \
  "$(frame "$chassis$(desc oddport)$(zmo "020050ff")$end")" \
  "$(frame "$chassis$(tlv 6 "$(hex 'ctl')0a6d6f64653d666f72676564")$end")" \
  "$(frame "$chassis$end""00000000$(desc afterend)")" \
  "$(frame "$chassis$(desc lastbyte)${end}00")"
wait_reports 8
sleep 0.5
kill -0 "$receiver" || fail "lldprecv died"
for d in chassis7 chassis6 chassis1 ipv6 shortaddr otherethertype; do
  [ -z "$(report_with "desc=$d")" ] || fail "$d was reported"
done
for d in truncated overlong shortorg oddport afterend lastbyte; do
  [ -n "$(report_with "desc=$d" mode= http_port=0 "interface_idx=$peer_idx")" ] || fail "$d: $(cat /tmp/run/reports)"
done
[ -n "$(report_with desc=longmode mode=)" ] || fail "a 32-byte mode was taken"
[ -n "$(report_with 'desc=ctl_mode=forged' mode=)" ] || fail "a line end in a field: $(cat /tmp/run/reports)"
[ "$(report_count)" = 8 ] || fail "$(report_count) reports for 8 readable frames"

# Still listening.
send "$(frame "$chassis$(desc alive)$(zmo "01$(hex bridge)")$end")"
wait_reports 9
[ -n "$(report_with desc=alive mode=bridge)" ] || fail "no report after the broken frames"

log "a flood of good and broken frames, reported to a plain feedback file"
rm /tmp/run/vessik.fb
/usr/bin/python3 "$inject" flood veth-peer 3 \
  "$(frame "$chassis$(desc flood)$(zmo "01$(hex router)")$(zmo "0200$(hex 50)")$end")" \
  "$(frame "$(tlv 1 "07$(hex x)")$end")" \
  "$(frame "$chassis$(tlv 6 "$(hex truncated)" 300)")" \
  "$(frame "$chassis$(tlv 6 "$(printf '%0760d' 0)")$(zmo "03$(printf '%0250d' 0)")$end")" > /tmp/flood.count
kill -0 "$receiver" || fail "lldprecv died in the flood"
send "$(frame "$chassis$(desc after-flood)$end")"
wait_until 5 grep -qsx 'desc=after-flood' /tmp/run/vessik.fb ||
  fail "no report after the flood: $(cat /tmp/run/vessik.fb)"
hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$receiver/status")
log "$(cat /tmp/flood.count) frames sent, peak RSS $hwm KiB"
[ "$hwm" -lt 100000 ] || fail "peak RSS $hwm KiB"
kill "$receiver"
wait "$receiver" || fail "lldprecv did not end with status 0"
echo PASS
