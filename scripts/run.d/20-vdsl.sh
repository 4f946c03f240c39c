# The xDSL driver in its device host (the device /dev/vdsl is reached through
# /var/run/vdsl.sock) and the chip simulator on host "xdslchip", its boot
# loader waiting; the driver manages the chip over veth-xdslchip. druvel
# brings the line up as the board does, with "util dpf 1 1": a firmware
# package (generated here, in a tmpfs over /lib/firmware) carries the chip
# words of the whole-MIB binary driver image as its firmware image, so MIB
# commands and host commands work once it is done.
vdsl_bin=$FW_BUILD_DIR/xdsl/driver
devhost=$vdsl_bin/vdsl_devhost vdslreq=$vdsl_bin/vdslreq
chipsim=$FW_BUILD_DIR/platform/chipsim/chipsim chipsimctl=$FW_BUILD_DIR/platform/chipsim/chipsimctl
. "$FW_SOURCE_DIR/tests/e2e/vdsl/lib_vdsl.sh"
"$vdsl_bin/vdsl_mkimage" /tmp/vdsl-bindrv.bin /tmp/chipsim-setup > /dev/null
mount -t tmpfs tmpfs /lib/firmware
"$FW_BUILD_DIR/xdsl/shell/druvel_mkpackage" /lib/firmware/firmware_package.b --bindrv /tmp/vdsl-bindrv.bin \
  --image-setup /tmp/chipsim-setup --image-setup /tmp/chipsim-setup --profile SYS_default
ns_add_host xdslchip 10.63.0.2/24 10.63.0.1/24
ns_exec xdslchip "$chipsim" --iface eth0 --setup /tmp/chipsim-setup 2> /tmp/chipsim.log &
wait_line /tmp/chipsim.log ready
start_devhost
/bin/cfgmgr -w "EBM_BOOT_IF_P1=$(ns_if xdslchip)"
"$FW_BUILD_DIR/xdsl/shell/druvel" "util dpf 1 1" > /tmp/druvel-dpf.log 2>&1 || true
echo "vdsl: $(sed -n 1p /tmp/klog); kernel log in /tmp/klog"
echo "  line up by druvel \"util dpf 1 1\": $(grep -c "Loading binary driver complete." /tmp/druvel-dpf.log) binary driver loaded (/tmp/druvel-dpf.log)"
echo "  try: $FW_BUILD_DIR/xdsl/shell/druvel \"interface xdsl show mibname 1 xdslFirmwareVer\""
echo "       $vdslreq 0x7605 --size 64   (connect: the line walks to showtime)"
echo "  chip bench: $chipsimctl $(ns_if xdslchip) line"
