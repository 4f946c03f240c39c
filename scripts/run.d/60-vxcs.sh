# The SMB server program (vxcs) with one share, one printer and one user, once
# the NetBIOS daemon runs: the server registers its names through it. The
# printer is the fake USB printer driver (platform/usblp) preloaded into the
# server: /dev/usb/lp0 prints into /tmp/vxcs-printer.out; change its status
# in /var/run/usblp/control (0x18 ready, 0x38 paper out).
if [ ! -s /var/run/vxnd.pid ]; then
  echo "vxcs not started: it needs the NetBIOS daemon (vxnd), which is not running"
else
  mkdir -p /var/run/cifs /tmp/vxcs-share
  printf 'Share;/tmp/vxcs-share;Files\n' > /var/run/cifs/cs_cfg.txt
  mkdir -p /var/run/usblp
  printf '/dev/usb/lp0 /tmp/vxcs-printer.out 04e8:3242 0x18 MFG:Acme;MDL:Laser 9;CMD:PCL;\n' \
    > /var/run/usblp/control
  LD_PRELOAD="$FW_BUILD_DIR/platform/usblp/libusblp.so" \
    "$FW_BUILD_DIR/platform/vxcs/vxcs" -i 000000000001 > /tmp/vxcs.log 2>&1 &
  wait_line /tmp/vxcs.log "VXCS: server is ready"
  # user "admin", password "password" (its NT hash); the server removes the
  # user list when it starts, so it is written afterwards.
  printf 'admin:8846f7eaee8fb117ad06bdd830b7586c8846f7eaee8fb117ad06bdd830b7586c:1000:0\n' \
    > /var/run/cifs/pwd_list.txt
  wait_port tcp 445
  "$FW_BUILD_DIR/cifs/tools/vxcsctrl" addprintershare Printer /dev/usb/lp0 /var/run/cifs/lp0.status 1 \
    "Test printer" > /dev/null
  echo "vxcs runs (pid $(cat /var/run/vxcs.pid)), log /tmp/vxcs.log; share \\\\router\\Share"
  echo "  (/tmp/vxcs-share), printer \\\\router\\Printer (/tmp/vxcs-printer.out), user admin / password;"
  echo "  control port 127.0.0.1:4445"
  echo "  try: smbclient //127.0.0.1/Share -U admin%password -m SMB3_11 -c pwd"
  echo "  stop: kill \$(cat /var/run/vxcs.pid); restart (shares read again): kill -HUP \$(cat /var/run/vxcs.pid)"
fi
