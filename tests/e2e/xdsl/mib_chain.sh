#!/usr/bin/env bash
# MIB access end to end: the real druvel, the driver's device host and the
# chip simulator on a veth peer, with the whole-MIB binary driver image.
#   mib_chain.sh DEVHOST VDSLREQ CHIPSIM CHIPSIMCTL DRUVEL MKIMAGE
set -euo pipefail
. "$(dirname "$0")/../vdsl/common.sh"
druvel=$5 mkimage=$6

one_cpu

# addr ENTRY: chip address of a logic entry in the image.
declare -A addr
while read -r entry a _; do addr[$entry]=$a; done < <(
  "$mkimage" /tmp/bindrv.bin /tmp/chip-setup 2.1.5 2.1.9 0.16.4.2 0.22.5.1 2.1.10)

start_chip --running --setup /tmp/chip-setup
start_driver /tmp/bindrv.bin

# shell LINE: druvel with one command line; its output in $out.
shell() { rc=0; out=$("$druvel" "$1" 2>&1) || rc=$?; }
peek() { bench peek x "${addr[$1]}"; }

shell "interface xdsl set oid 1 2.1.9 123456"
[ "$out" = "MIB value has set." ] || fail "set oid printed: $out"
[ "$(peek 2.1.9)" = "ok 123456" ] || fail "2.1.9 holds $(peek 2.1.9)"
shell "interface xdsl show oid 1 2.1.9"
[ "$out" = "MIB2 value: 123456" ] || fail "show oid printed: $out"
bench poke x "${addr[0.16.4.2]}" 0x000384 > /dev/null
shell "interface xdsl show mibname 1 xdsl2PMLCurr15MTimeElapsed1"
[ "$out" = "MIB2 value: 000384" ] || fail "show mibname printed: $out"
shell "interface xdsl set oidbit 1 2.1.9 0f0 0a5"
[ "$(peek 2.1.9)" = "ok 1234a6" ] || fail "oidbit left $(peek 2.1.9)"
log "set, show, by name and bit by bit: 2.1.9 holds 1234a6"

before=$(bench stats)
shell "interface xdsl set oid 2 2.1.9 000000"
[ "$rc" = 1 ] || fail "port 2 was not refused: $out"
[ "$(bench stats)" = "$before" ] || fail "port 2 reached the chip"
[ "$(peek 2.1.9)" = "ok 1234a6" ] || fail "port 2 changed 2.1.9"
log "port 2 refused without a chip exchange"

# Connecting walks the line to showtime through host commands.
bench hostcmd phase 150 > /dev/null
expect_result 0 0x7605 --size 64
state=0
showtime() {
  req 0x7614 --size 64 --show 2
  state=${answer%% *}
  [ "$state" = 05 ]
}
wait_until 5 showtime || fail "the line did not reach showtime (state $state)"
[ "${answer#* }" = 01 ] || fail "not connected after 0x7605: $answer"
shell "show loop-back 1"
[ "$out" = "Loop-Back mode: Disable" ] || fail "loop-back: $out"
expect_result 0 0x76018 --size 64
sleep 0.1
shell "show loop-back 1"
[ "$out" = "Loop-Back mode: Enable" ] || fail "loop-back after 0x76018: $out"
log "connect reached showtime; loop-back on shows as enabled"

# A go flag the chip never clears: the command fails after its polls.
bench hostcmd stuck on > /dev/null
expect_result 0 0x7606 --size 64                            # this one sets the flag
t0=$(ms)
expect_result 100 0x7606 --size 64
took=$(( $(ms) - t0 ))
[ "$took" -ge 1900 ] || fail "stuck go flag failed after only $took ms"
bench hostcmd stuck off > /dev/null
log "stuck go flag: 100 after $took ms"

# A 24-bit counter that wraps keeps counting in 32 bits.
bench poke x "${addr[0.22.5.1]}" 0xfffff0 > /dev/null
shell "interface xdsl show oid-32 1 0.22.5.1"
[ "$out" = "MIB2 value: 00fffff0" ] || fail "counter before the wrap: $out"
bench counter x "${addr[0.22.5.1]}" 0x20 > /dev/null
shell "interface xdsl show oid-32 1 0.22.5.1"
shell "interface xdsl show oid-32 1 0.22.5.1"
[ "$out" = "MIB2 value: 01000010" ] || fail "counter after the wrap: $out"
log "counter across the wrap: $out"

# A far-end word through the chip's mailbox.
bench far poke 0x44 0xabcdef > /dev/null
expect_result 0 0x7629 --size 64 --hex 1 000044 --show 3
[ "$answer" = "ab cd ef" ] || fail "far-end word read as $answer"
bench mailbox refuse on > /dev/null
expect_result 100 0x7629 --size 64 --hex 1 000044
bench mailbox refuse off > /dev/null
log "far-end word through the mailbox; a refusing far end fails after its retries"

# Two shell processes at once, each reading its own entry.
bench poke x "${addr[2.1.10]}" 0x0a0a0a > /dev/null
reader() {
  local oid=$1 want=$2 i got
  for i in $(seq 25); do
    got=$("$druvel" "interface xdsl show oid 1 $oid")
    [ "$got" = "MIB2 value: $want" ] || { echo "$oid read as $got" >&2; return 1; }
  done
}
reader 2.1.9 1234a6 & a=$!
reader 2.1.10 0a0a0a & b=$!
wait "$a" || fail "first shell got a wrong answer"
wait "$b" || fail "second shell got a wrong answer"
log "two shells at once got their own answers"

# The whole of X and Y memory into two files.
t0=$(ms)
shell "interface xdsl dump mem 1"
grep -q "Dumping whole Y memory for port 1..." <<< "$out" || fail "dump mem printed: $out"
for m in x y; do
  [ "$(stat -c %s "/tmp/memdump_$m.bin")" = 196608 ] || fail "memdump_$m.bin has the wrong size"
done
at=$(( addr[2.1.9] * 3 ))
[ "$(od -An -tx1 -j "$at" -N3 /tmp/memdump_x.bin | tr -d ' ')" = 1234a6 ] || fail "2.1.9 not in the X dump"
log "dump mem: two files of 196608 bytes in $(( $(ms) - t0 )) ms"
echo PASS
