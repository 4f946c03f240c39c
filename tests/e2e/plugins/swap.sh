#!/usr/bin/env bash
# zmocore PLUGIN: the swap plug-in on a loop-mounted ext4 image that the core
# knows as "USB0" (label DISK): limits, pending until mounted, the header as
# blkid reads it, progress, what it refuses to touch, interrupts, an injected
# failure after preallocation, and a real swapon for the opted-in label.
set -euo pipefail
zmocore=$1 plugin=$2
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
. "$(dirname "$0")/lib_core.sh"
work=$(mktemp -d)
mnt=$work/usb0
mkdir "$mnt"
truncate -s 1200M "$work/usb.img"
mkfs.ext4 -q -F -L DISK "$work/usb.img"
mount -o loop "$work/usb.img" "$mnt" || { echo "no loop mounts here; skipping" >&2; exit 77; }
on_exit umount -l "$mnt"
# Real swap areas are the host's: none may outlive the scenario.
on_exit bash -c "awk -v m=$mnt/ 'index(\$1, m) == 1 { print \$1 }' /proc/swaps | xargs -r -n1 swapoff"
file=$mnt/swapfile
mounted="event fs add name=USB0 label=DISK usb=1 dir=$mnt"

start_core "$zmocore" --seed "$$" --real-swap-label DISK --plugin "$plugin"
answer() { ask "$1" && after_last "$1"; }
# Events are handled on the core's event thread, after the line returns.
swap_off() { ! grep -q "^$file " /proc/swaps; }
journal() { ask "journal $1" && after_last "journal $1" | grep -c "^$1" || true; }

log "limits, then pending until the volume is there"
answer "system swap USB0:/swapfile 15" | grep -qF "[0x809c0003] swap file size must be at least 16Kb" || fail "15 Kb"
answer "system swap USB0:/swapfile 2097153" | grep -qF "[0x809c0004]" || fail "2097153 Kb"
answer "system swap USB0:/swapfile 16" | grep -qF "[0x409c0001] pending swap area USB0:/swapfile" || fail "16 Kb"
answer "system swap USB0:/swapfile 2097152" | grep -qF "[0x409c0001] pending" || fail "2097152 Kb"
answer "system swap USB0:/swapfile 8192" | grep -qF "[0x409c0001] pending" || fail "8192 Kb"
[ -e "$file" ] && fail "a pending area wrote a file"

log "the mount event makes the file in the background and turns it on"
ask "$mounted"
wait_until 20 grep -q "^$file " /proc/swaps || fail "not in /proc/swaps: $(cat "$work/out" "$work/err")"
expect "type" "$(blkid -p -o value -s TYPE "$file")" swap
expect "label" "$(blkid -p -o value -s LABEL "$file")" ZMO_SWAP
uuid=$(blkid -p -o value -s UUID "$file")
[ -n "$uuid" ] || fail "no UUID"
expect "size" "$(stat -c %s "$file")" $((8192 * 1024))
expect "mode" "$(stat -c %a "$file")" 600
progress=$(journal "event Progress USB0:/swapfile")
[ "$progress" -ge 1 ] && [ "$progress" -le 100 ] || fail "$progress progress events"

log "a repeated mount event rewrites nothing"
sum=$(md5sum <"$file")
ask "$mounted"
ask "sleep 300ms"
expect "content" "$(md5sum <"$file")" "$sum"
expect "swapons" "$(journal "swapon $file")" 1

log "off at unmount-prepare"
ask "event fs prepare name=USB0"
wait_until 10 swap_off || fail "still in /proc/swaps"
ask "event fs remove name=USB0"
ask "no system swap"

log "links and foreign files are refused untouched"
echo precious >"$work/target"
ln -s "$work/target" "$mnt/link"
head -c 100000 /dev/urandom >"$mnt/photo.jpg"
photo=$(md5sum <"$mnt/photo.jpg")
ask "$mounted"
answer "system swap USB0:/link 64" | grep -qF "[0x809c0005] unable to initialize USB0:/link" || fail "a link was taken"
answer "system swap USB0:/photo.jpg 64" | grep -qF "[0x809c0005] unable to initialize USB0:/photo.jpg: not a swap file" ||
  fail "a foreign file was taken"
expect "link target" "$(cat "$work/target")" precious
expect "foreign file" "$(md5sum <"$mnt/photo.jpg")" "$photo"

log "an interrupt leaves no header"
# Both lines at once: any other line would wait for the command's end.
ask "system swap USB0:/big 1048576
interrupt"
after_last interrupt | grep -qF "swap initialization interrupted" || fail "not interrupted: $(after_last interrupt)"
[ -z "$(blkid -p -o value -s TYPE "$mnt/big" || true)" ] || fail "an interrupted file has a header"
rm -f "$mnt/big"

log "a failure after preallocation leaves no hole"
rm -f "$file"
ask "fail file.ioctl.accept"
ask "fail file.write"
answer "system swap USB0:/swapfile 4096" | grep -qF "[0x409c0003]" || fail "no background work"
wait_until 20 grep -q "^$file " /proc/swaps || fail "swapon refused: $(cat "$work/out")"
expect "allocated" "$(( $(stat -c '%b * %B' "$file") >= 4096 * 1024 ))" 1
ask "event fs prepare name=USB0"
wait_until 10 swap_off || fail "still in /proc/swaps"
stop_core

log "a UUID new each run"
rm -f "$file"
printf '%s\n' "$mounted" "system swap USB0:/swapfile 64" "show running-config" >"$work/again"
"$zmocore" --seed $(($$ + 1)) --plugin "$plugin" --script "$work/again" >"$work/again.out" 2>&1 ||
  fail "second run: $(cat "$work/again.out")"
[ "$(blkid -p -o value -s TYPE "$file")" = swap ] || fail "second run made no swap file"
[ "$(blkid -p -o value -s UUID "$file")" != "$uuid" ] || fail "the same UUID twice"
log ok
