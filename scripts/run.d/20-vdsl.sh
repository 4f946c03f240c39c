# The xDSL driver in its device host (the device /dev/vdsl is reached through
# /var/run/vdsl.sock) and the chip simulator on host "xdslchip", its firmware
# already running; the driver manages the chip over veth-xdslchip. A binary
# driver image of the whole MIB is loaded, with the chip set up to match it,
# so druvel's MIB commands and the host commands work at once.
vdsl_bin=$FW_BUILD_DIR/xdsl/driver
devhost=$vdsl_bin/vdsl_devhost vdslreq=$vdsl_bin/vdslreq
chipsim=$FW_BUILD_DIR/platform/chipsim/chipsim chipsimctl=$FW_BUILD_DIR/platform/chipsim/chipsimctl
. "$FW_SOURCE_DIR/tests/e2e/vdsl/lib_vdsl.sh"
"$vdsl_bin/vdsl_mkimage" /tmp/vdsl-bindrv.bin /tmp/chipsim-setup > /dev/null
ns_add_host xdslchip 10.63.0.2/24 10.63.0.1/24
ns_exec xdslchip "$chipsim" --iface eth0 --running --setup /tmp/chipsim-setup 2> /tmp/chipsim.log &
wait_line /tmp/chipsim.log ready
start_devhost
expect_result 0 0x7660 --size 64 --str 0 "$(ns_if xdslchip)"
expect_result 0 0x7632 --hex 0 0003                      # firmware runs: port idle
load_bindrv /tmp/vdsl-bindrv.bin 0
echo "vdsl: $(sed -n 1p /tmp/klog); kernel log in /tmp/klog"
echo "  try: $FW_BUILD_DIR/xdsl/shell/druvel \"interface xdsl show mibname 1 xdslFirmwareVer\""
echo "       $vdslreq 0x7605 --size 64   (connect: the line walks to showtime)"
echo "  chip bench: $chipsimctl $(ns_if xdslchip) line"
