#!/usr/bin/env bash
# Chip reset and firmware start: the chip is reset through the board wiring
# and booted with boot frames; then MIB access waits for the binary driver
# image, refuses a bad or malformed one, and works with a good one.
set -euo pipefail
. "$(dirname "$0")/common.sh"
here=$(dirname "$0")

start_chip
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$mgt"
python3 "$here/chip_images.py" firmware /tmp/firmware.bin
for kind in good badsig malformed; do python3 "$here/chip_images.py" bindrv "/tmp/bindrv-$kind.bin" "$kind"; done

mib_read() { req 0x7610 --str 1 "$1" --text 2; }

# Firmware start: phase 1, the reset line pulsed, the boot, phase 3.
expect_result 0 0x7632 --hex 0 0001
[ "$(bench reset low)" = "ok held" ] || fail "reset line low"
python3 "$here/ebm_boot.py" "$mgt" /tmp/firmware.bin 2> /dev/null && fail "a chip held in reset answered the boot"
[ "$(bench reset high)" = "ok boot" ] || fail "reset line high"
python3 "$here/ebm_boot.py" "$mgt" /tmp/firmware.bin || fail "boot failed"
[ "$(bench state)" = "ok running" ] || fail "chip not running after the boot"
expect_result 0 0x7632 --hex 0 0003
expect_result 0 0x7615 --size 64 --show 1
[ "$answer" = "02" ] || fail "port state $answer after the firmware start"
log "chip reset, booted over boot frames, firmware start accepted: port IDLE"

mib_read 2.1.5
[ "$result" = 112 ] || fail "MIB read before the image answered $result"
log "MIB access before the image: 112"

load_bindrv /tmp/bindrv-badsig.bin 0
for _ in 1 2; do
  mib_read 2.1.5
  [ "$result" = 113 ] || fail "MIB read with a bad image signature answered $result"
done
log "bad image signature: 113"

load_bindrv /tmp/bindrv-malformed.bin 113
mib_read 2.1.5
[ "$result" = 112 ] || fail "MIB read after a malformed image answered $result"
expect_result 100 0x7633 --hex 0 020436                        # a chunk longer than the block
expect_result 0 0x7616 --size 64
kill -0 "$devhost_pid" || fail "the device host died"
log "malformed image refused (113), nothing loaded, driver alive"

load_bindrv /tmp/bindrv-good.bin 0
expect_result 0 0x7639
mib_read 2.1.5
[ "$result" = 0 ] && [ "$answer" = 00abcd ] || fail "MIB read with a good image: $result '$answer'"
[ "$(bench peek x 0x100d)" != "ok 000000" ] || fail "the interval clock was not calibrated"
log "good image accepted: 2.1.5 reads $answer"

# A new firmware start forgets the image.
expect_result 0 0x7632 --hex 0 0001
expect_result 0 0x7632 --hex 0 0003
mib_read 2.1.5
[ "$result" = 112 ] || fail "MIB read after a new firmware start answered $result"
echo PASS
