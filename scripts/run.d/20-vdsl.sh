# The xDSL driver in its device host (the device /dev/vdsl is reached through
# /var/run/vdsl.sock) and the chip simulator on host "xdslchip", its firmware
# already running; the driver manages the chip over veth-xdslchip.
ns_add_host xdslchip 10.63.0.2/24 10.63.0.1/24
ns_exec xdslchip "$FW_BUILD_DIR/platform/chipsim/chipsim" --iface eth0 --running 2> /tmp/chipsim.log &
"$FW_BUILD_DIR/xdsl/driver/vdsl_devhost" 2> /tmp/vdsl.klog &
for _ in $(seq 100); do [ -S /var/run/vdsl.sock ] && break; sleep 0.05; done
"$FW_BUILD_DIR/xdsl/driver/vdslreq" 0x7660 --size 64 --str 0 "$(ns_if xdslchip)" > /dev/null
echo "vdsl: $(sed -n 1p /tmp/vdsl.klog); kernel log in /tmp/vdsl.klog"
echo "  try: $FW_BUILD_DIR/xdsl/driver/vdslreq 0x7651 --size 64 --hex 1 006c36 --show 3"
echo "  chip bench: $FW_BUILD_DIR/platform/chipsim/chipsimctl $(ns_if xdslchip) peek x 0x6c36"
