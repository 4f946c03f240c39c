# The SMB server program (vxcs) with one share and one user, once the
# NetBIOS daemon runs: the server registers its names through it.
if [ ! -s /var/run/vxnd.pid ]; then
  echo "vxcs not started: it needs the NetBIOS daemon (vxnd), which is not running"
else
  mkdir -p /var/run/cifs /tmp/vxcs-share
  printf 'Share;/tmp/vxcs-share;Files\n' > /var/run/cifs/cs_cfg.txt
  "$FW_BUILD_DIR/platform/vxcs/vxcs" -i 000000000001 > /tmp/vxcs.log 2>&1 &
  wait_line /tmp/vxcs.log "VXCS: server is ready"
  # user "admin", password "password" (its NT hash); the server removes the
  # user list when it starts, so it is written afterwards.
  printf 'admin:8846f7eaee8fb117ad06bdd830b7586c8846f7eaee8fb117ad06bdd830b7586c:1000:0\n' \
    > /var/run/cifs/pwd_list.txt
  wait_port tcp 445
  echo "vxcs runs (pid $(cat /var/run/vxcs.pid)), log /tmp/vxcs.log; share \\\\router\\Share"
  echo "  (/tmp/vxcs-share), user admin / password; control port 127.0.0.1:4445"
  echo "  try: smbclient //127.0.0.1/Share -U admin%password -m SMB3_11 -c pwd"
  echo "  stop: kill \$(cat /var/run/vxcs.pid); restart (shares read again): kill -HUP \$(cat /var/run/vxcs.pid)"
fi
