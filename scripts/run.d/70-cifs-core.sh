# The CIFS plug-in in the management core, as on the router: the core runs
# vxnd and vxcs by name and drives the server with vxcsctrl. It takes the
# SMB server over, so the vxcs and vxnd started above stop first. A USB
# medium "USB0" (/tmp/cifs-core/usb0) is shared and the user admin
# (password "password", its NT hash as the core keeps it) is tagged "cifs".
work=/tmp/cifs-core
mkdir -p "$work/bin" "$work/usb0"
ln -sf "$FW_BUILD_DIR/cifs/tools/vxnd" "$FW_BUILD_DIR/platform/vxcs/vxcs" "$work/bin/"
for daemon in vxcs vxnd; do
  [ -s "/var/run/$daemon.pid" ] || continue
  pid=$(cat "/var/run/$daemon.pid")
  kill -TERM "$pid" 2> /dev/null || true
  # Started by an earlier snippet of this shell: reaped here.
  wait "$pid" 2> /dev/null || true
done
# Its shares are the plug-in's alone.
rm -f "$work/in" /var/run/cifs/cs_cfg.txt
mkfifo "$work/in"
# Holds the core's script open; lines written to $work/in are run in turn.
sleep infinity > "$work/in" &
PATH=$work/bin:$PATH "$FW_BUILD_DIR/platform/core/zmocore" --wan-mac 00:11:22:33:44:55 \
  --plugin "$FW_BUILD_DIR/plugins/src/libzmoCifsVX.so" --script "$work/in" > "$work/out" 2> "$work/err" &
printf '%s\n' "event fs add name=USB0 label=USB usb=1 dir=$work/usb0" \
  "event user add name=admin tags=cifs nt=8846f7eaee8fb117ad06bdd830b7586c" \
  cifs "share USB0 USB0:/" exit "service cifs" "wait service CIFS up 20s" > "$work/in"
if wait_until 30 grep -qx "service CIFS up" "$work/out"; then
  echo "zmocore runs the CIFS plug-in; vxnd and vxcs are its services (pids $(cat /var/run/vxnd.pid)," \
    "$(cat /var/run/vxcs.pid)); share \\\\router\\USB0 ($work/usb0), user admin / password"
  echo "  the core's lines: echo 'show running-config' > $work/in; answers in $work/out"
  echo "  try: smbclient //127.0.0.1/USB0 -U admin%password -m SMB3_11 -c pwd; vxcsctrl ES"
else
  echo "the CIFS plug-in did not bring the server up; see $work/out and $work/err"
fi
