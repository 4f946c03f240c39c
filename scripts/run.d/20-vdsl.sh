# The xDSL driver in its device host (the device /dev/vdsl is reached through
# /var/run/vdsl.sock) and the chip simulator on host "xdslchip", its firmware
# already running; the driver manages the chip over veth-xdslchip. A binary
# driver image of the whole MIB is loaded, with the chip set up to match it,
# so druvel's MIB commands and the host commands work at once.
vdsl_bin=$FW_BUILD_DIR/xdsl/driver
"$vdsl_bin/vdsl_mkimage" /tmp/vdsl-bindrv.bin /tmp/chipsim-setup > /dev/null
ns_add_host xdslchip 10.63.0.2/24 10.63.0.1/24
ns_exec xdslchip "$FW_BUILD_DIR/platform/chipsim/chipsim" --iface eth0 --running \
  --setup /tmp/chipsim-setup 2> /tmp/chipsim.log &
"$vdsl_bin/vdsl_devhost" 2> /tmp/vdsl.klog &
for _ in $(seq 100); do [ -S /var/run/vdsl.sock ] && break; sleep 0.05; done
"$vdsl_bin/vdslreq" 0x7660 --size 64 --str 0 "$(ns_if xdslchip)" > /dev/null
"$vdsl_bin/vdslreq" 0x7632 --hex 0 0003 > /dev/null       # firmware runs: port idle
# The binary driver image in chunks: phase 1, phase 2 per chunk, phase 3.
"$vdsl_bin/vdslreq" 0x7633 --hex 0 010000 > /dev/null
size=$(stat -c %s /tmp/vdsl-bindrv.bin)
for ((off = 0; off < size; off += 1024)); do
  n=$(( size - off < 1024 ? size - off : 1024 ))
  "$vdsl_bin/vdslreq" 0x7633 --hex 0 "02$(printf '%04x' "$n")" --file 3 /tmp/vdsl-bindrv.bin "$off" "$n" > /dev/null
done
"$vdsl_bin/vdslreq" 0x7633 --hex 0 030000 > /dev/null
echo "vdsl: $(sed -n 1p /tmp/vdsl.klog); kernel log in /tmp/vdsl.klog"
echo "  try: $FW_BUILD_DIR/xdsl/shell/druvel \"interface xdsl show mibname 1 xdslFirmwareVer\""
echo "       $vdsl_bin/vdslreq 0x7605 --size 64   (connect: the line walks to showtime)"
echo "  chip bench: $FW_BUILD_DIR/platform/chipsim/chipsimctl $(ns_if xdslchip) line"
