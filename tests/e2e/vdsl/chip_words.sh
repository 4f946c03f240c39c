#!/usr/bin/env bash
# Single chip words over management frames, with the simulator on a veth
# peer: frame layout and sequence numbers, retries against a silent chip,
# late replies, two clients at once, and the interface going away.
set -euo pipefail
. "$(dirname "$0")/common.sh"

start_chip --running
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$mgt"

# The first request after load reads the firmware signature word.
expect_result 0 0x7651 --size 64 --hex 1 006c36 --show 3
[ "$answer" = "47 41 54" ] || fail "X:0x6C36 read as $answer"
our_mac=$(tr -d : < "/sys/class/net/$mgt/address")
first=$(grep -m1 '^rx 0200eb000000' /tmp/chip-trace | cut -d' ' -f2)
[ "$first" = "0200eb000000${our_mac}61200007016c360000004f22" ] || fail "first frame was $first"
log "first read of X:0x6C36 went out as $first"

# Writes and reads: one-shot and persistent socket.
expect_result 0 0x7651 --size 64 --hex 1 006c32 --hex 5 01 --hex 6 123456
[ "$(bench peek x 0x6c32)" = "ok 123456" ] || fail "write of X:0x6C32 did not land"
expect_result 100 0x7681 --size 64 --hex 1 006c32              # port disabled: chip not started
expect_result 0 0x7632 --hex 0 0003                            # firmware start phase 3: signature read
expect_result 0 0x7682 --size 64 --hex 1 000010 --hex 4 01 --hex 5 abcdef
[ "$(bench peek y 0x10)" = "ok abcdef" ] || fail "write of Y:0x10 did not land"
expect_result 0 0x7681 --size 64 --hex 1 000010 --hex 4 01 --show 3
[ "$answer" = "ab cd ef" ] || fail "Y:0x10 read back as $answer"
for i in $(seq 6); do expect_result 0 0x7681 --size 64 --hex 1 006c32 --show 3; done
[ "$answer" = "12 34 56" ] || fail "X:0x6C32 read as $answer"

# Every frame so far: 24 bytes, sequence numbers 1..7, 0, 1..., sound FCS.
python3 - /tmp/chip-trace <<'PY' || fail "frames on the wire are not as they should be"
import sys
def fcs16(b):
    f = 0xFFFF
    for x in b:
        f ^= x
        for _ in range(8):
            f = (f >> 1) ^ 0x8408 if f & 1 else f >> 1
    return ~f & 0xFFFF
frames = [bytes.fromhex(l.split()[1]) for l in open(sys.argv[1]) if l.startswith("rx ")]
frames = [f for f in frames if f[12:14] == b"\x61\x20"]
assert len(frames) == 11, len(frames)
for n, f in enumerate(frames):
    assert len(f) == 24, f.hex()
    assert f[16] & 7 == (n + 1) % 8, (n, f.hex())
    assert fcs16(f[16:22]) == f[22] | f[23] << 8, f.hex()
PY
log "11 frames of 24 bytes, sequence 1..7,0,1.., FCS sound"

# A silent chip: three sends, failure after about 450 ms.
bench fault silent > /dev/null
before=$(grep -c '^rx 0200eb' /tmp/chip-trace)
t0=$(ms)
expect_result -11 0x7651 --size 64 --hex 1 006c36
took=$(( $(ms) - t0 ))
sleep 0.1
sends=$(( $(grep -c '^rx 0200eb' /tmp/chip-trace) - before ))
[ "$sends" = 3 ] || fail "silent chip got $sends sends"
[ "$took" -ge 430 ] && [ "$took" -lt 1500 ] || fail "silent chip failed after $took ms"
log "silent chip: 3 sends, failed after $took ms"

# Late replies: they must not answer the next request.
bench poke x 0x20 0x222222 > /dev/null
bench fault delay 600 3 > /dev/null
expect_result -11 0x7681 --size 64 --hex 1 006c32
sleep 0.5                                               # the late replies reach our socket
bench fault none > /dev/null
expect_result 0 0x7681 --size 64 --hex 1 000020 --show 3
[ "$answer" = "22 22 22" ] || fail "a late reply answered the next request: $answer"
log "late replies dropped"

# Two client processes at once, each reading its own word many times.
bench poke x 0x3001 0x111111 > /dev/null
bench poke x 0x3002 0x333333 > /dev/null
client() {
  local cmd=$1 addr=$2 want=$3 i out
  for i in $(seq 40); do
    out=$("$vdslreq" "$cmd" --size 64 --hex 1 "$addr" --show 3)
    [ "$out" = "$(printf 'result=0\n%s' "$want")" ] || { echo "client $cmd $addr got: $out" >&2; return 1; }
  done
}
client 0x7681 003001 "11 11 11" & a=$!
client 0x7651 003002 "33 33 33" & b=$!
wait "$a" || fail "first client got a wrong answer"
wait "$b" || fail "second client got a wrong answer"
log "two clients at once got their own words"

# The management interface goes away: its socket is closed.
ip link del "$mgt"
sleep 0.2
expect_result -127 0x7681 --size 64 --hex 1 006c32
expect_result 0 0x7616 --size 64
log "interface removal closed the persistent socket"
echo PASS
