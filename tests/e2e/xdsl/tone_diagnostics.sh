#!/usr/bin/env bash
# Per-tone diagnostics end to end: the exports with their SCSTATUS_DIR files
# byte for byte, the allocation read segment by segment, silent mode's files
# under its lock, and the loop diagnostic ending done, failed and without
# handshake. The real druvel, the driver's device host and the simulator;
# druvel's waits run TIME_WARP times faster.
#   tone_diagnostics.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE TIME_WARP_LIB
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6 warp_lib=$7
here=$(cd "$(dirname "$0")" && pwd)

declare -A addr
entries=(2.1.5 0.1.5 0.1.26 0.4.2 0.6.2 0.6.3 0.6.4 0.6.5 0.6.6 2.1.329 2.1.330 2.1.345 2.1.346)
while read -r entry a _; do addr[$entry]=$a; done < <("$mkimage" /tmp/bindrv.bin /tmp/chip-setup "${entries[@]}")

start_chip --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin

# shell [--warp N] LINE: druvel with one command line; silent LINE: in silent mode.
shell() {
  local env=()
  if [ "$1" = --warp ]; then
    env=(ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" LD_PRELOAD="$warp_lib" TIME_WARP="$2")
    shift 2
  fi
  rc=0
  out=$(env "${env[@]}" "$druvel" "$1" 2>&1) || rc=$?
}
silent() { printf '%s\n' "$1" | "$druvel" silent > /dev/null 2>&1; }
has() { grep -qxF -- "$1" <<< "$out" || fail "no line \"$1\" in: $out"; }
poke() { bench poke x "${addr[$1]}" "$2" > /dev/null; }
poke_word() { bench poke x $(( addr[$1] + $2 )) "$3" > /dev/null; }
fill() { bench fill x "${addr[$1]}" "$2" "$3" > /dev/null; }
same() { [ "$(cat "$1")" = "$2" ] || fail "$1 holds: $(head -c 300 "$1"), not: $2"; }
showtime() { req 0x7614 --size 64 --show 1; [ "$answer" = 05 ]; }

# A trained line, profile 8b (groups of eight tones): US0 5-64, DS1 65-2000.
poke 2.1.5 0x000300
poke 0.1.26 0x000002
poke 0.4.2 0x008000
poke 2.1.329 5
poke 2.1.330 64
poke 2.1.345 65
poke 2.1.346 2000
# Every entry not available but groups 1-8 and 65-72.
fill 0.6.2 512 0x008000
fill 0.6.3 512 0x008000
fill 0.6.4 512 0x0003ff
fill 0.6.5 171 0xffffff
fill 0.6.6 171 0xffffff
poke_word 0.6.4 0 0x000000
poke_word 0.6.4 8 0x0003fe
poke_word 0.6.2 0 0x007fff
poke_word 0.6.3 0 0x008001
poke_word 0.6.2 8 0x008000
poke_word 0.6.3 8 0x000000
poke_word 0.6.5 0 0x00ffff      # byte 0: n = 0
poke_word 0.6.5 2 0xfffffe      # byte 8: n = 254
poke_word 0.6.6 0 0x00ffff
poke_word 0.6.6 2 0xfffffe
mkdir /tmp/scs
/bin/cfgmgr -w SCSTATUS_DIR=/tmp/scs

shell "show scstatussegment 1 hlog"
[ "$rc" = 0 ] || fail "hlog answered $rc: $out"
has "SCStatusSegmentLog of Line 1:"
has "DS:    65-  72|     -96.2"
same /tmp/scs/scseg_log.txt "US:1-8=6.0|DS:65-72=-96.2|"
shell "show scstatussegment 1 hlinear"
has "   1-   8|       31.9990234375         -31.9990234375"
same /tmp/scs/scseg_lin.txt "1-8=31.9990234375,-31.9990234375|65-72=,0.0000000000|"
shell "show scstatussegment 1 qln"
same /tmp/scs/scseg_qln.txt "US:1-8=-23.0|DS:65-72=-150.0|"
shell "show scstatussegment 1 snr"
same /tmp/scs/scseg_snr.txt "US:1-8=-32.0|DS:65-72=95.0|"
log "HLOG m=1022 is -96.2, HLIN 31.9990234375, QLN and SNR: export files byte for byte"

# The allocation: eight segments selected each way; the simulator's words
# give tone t the bits t % 16 upstream, (t + 8) % 16 downstream, gain
# (0x100 + t % 256) / 512.
shell "show scstatussegment 1 bitsalloc"
has "US0: start from 5 to 64"
want=$(python3 -c '
out = []
for t in range(1, 4097):
    bits = t % 16 if 5 <= t <= 64 else (t + 8) % 16 if 65 <= t <= 2000 else 0
    out.append("%d=%d|" % (t, bits))
print("".join(out), end="")')
same /tmp/scs/scseg_bits_alloc.txt "$want"
shell "show scstatussegment 1 gainalloc"
has "   5|0.50977    6|0.51172    7|0.51367    8|0.51562    9|0.51758   10|0.51953   11|0.52148   12|0.52344 "
want="1-4=0 0 0 0|5-12=0.50977 0.51172 0.51367 0.51562 0.51758 0.51953 0.52148 0.52344|"
[ "$(head -c ${#want} /tmp/scs/scseg_gain_alloc.txt)" = "$want" ] || fail "gain file: $(head -c 200 /tmp/scs/scseg_gain_alloc.txt)"
log "bits and gain allocation read segment by segment"

# Silent mode: the paged data file, and nothing at all under a held lock.
silent "show scstatussegment 1 snr update"
same /tmp/scstatus_snr "SCStatusSegmentSnr of Line 1:      Tone No.         dBUS:     1-   8|     -32.0DS:    65-  72|      95.0"
[ ! -e /tmp/snr.mut ] || fail "the lock outlived the request"
touch /tmp/qln.mut
silent "show scstatussegment 1 qln"
silent "show scstatussegment 1 qln update"
[ ! -e /tmp/qln ] && [ ! -e /tmp/scstatus_qln ] && [ -e /tmp/qln.mut ] || fail "a held lock let a request through"
rm /tmp/qln.mut
silent "show scstatussegment 1 qln"
same /tmp/qln "SCStatusSegmentQln of Line 1:      Tone No.     dBm/HzUS:     1-   8|     -23.0DS:    65-  72|    -150.0"
log "silent mode: paged file written; a held lock turns requests away"

# The remote tool's way: a command line over TCP 5001, then the export file.
rm /tmp/scs/scseg_log.txt
"$druvel" resident > /dev/null 2> /tmp/druvel-err &
on_exit kill $!
wait_port tcp 5001 5
PYTHONPATH=$here python3 - <<'PY' || fail "remote tool: hlog export not fetched"
from remote_tool_client import connect
t = connect()
reply = t.command("show scstatussegment 1 hlog")
assert reply[0] == 0, reply
first, _, data, last = t.get_file("/tmp/scs/scseg_log.txt")
assert first == b"\x00\xff" and data == b"US:1-8=6.0|DS:65-72=-96.2|", (first, data, last)
t.end()
PY
log "remote tool: an export run over TCP and its file fetched"

# ldsf_writes: the values the chip took for 0.1.5 since trace line $1.
ldsf_writes() {
  tail -n +"$1" /tmp/chip-trace | python3 -c '
import sys
want = int(sys.argv[1], 0)
for line in sys.stdin:
    if not line.startswith("rx "):
        continue
    f = bytes.fromhex(line[3:].strip())
    if len(f) < 24 or f[12:14] != b"\x61\x20":
        continue
    r = f[16:24]
    if r[0] & 0x20 and (r[0] >> 3) & 3 == 0 and (r[1] << 8 | r[2]) == want:
        print("%06x" % (r[3] << 16 | r[4] << 8 | r[5]))
' "${addr[0.1.5]}" | tr '\n' ' '
}
delt() {
  wait_until 10 showtime || fail "no showtime before the diagnostic (state $answer)"
  bench delt "$1" > /dev/null
  local from=$(( $(wc -l < /tmp/chip-trace) + 1 ))
  shell --warp 20 "show delt 1"
  [ "$rc" = 0 ] || fail "delt $1 answered $rc: $out"
  writes=$(ldsf_writes "$from")
}
bench hostcmd phase 50 > /dev/null
bench delt time 1000 > /dev/null

delt done
has "DELT for port 1, waiting for progress..."
has "DELT for port 1, started, may take a few minutes..."
has "DELT done"
has "US:     9-  16|       5.9"
[ "$writes" = "000001 " ] || fail "done: 0.1.5 took $writes"
log "DELT done: the diagnostic's HLOG shown"

delt fail
[ "$(grep -c '^DELT failed$' <<< "$out")" = 3 ] || fail "not three failures: $out"
[ "$writes" = "000001 000001 000001 " ] || fail "failures: 0.1.5 took $writes"
log "three failures, the flag left to the chip"

delt silent
[ "$(grep -c '^DELT handshake timeout$' <<< "$out")" = 3 ] || fail "not three handshake timeouts: $out"
[ "$writes" = "000001 000001 000001 000000 " ] || fail "handshake timeouts: 0.1.5 took $writes"
[ "$(bench peek x "${addr[0.1.5]}")" = "ok 000000" ] || fail "the flag stayed set"
wait_until 10 showtime || fail "the line was not retrained (state $answer)"
log "three handshake timeouts write 0.1.5 back; the line retrains"
if grep -q Sanitizer /tmp/druvel-err; then fail "sanitizer report: $(cat /tmp/druvel-err)"; fi
echo PASS
