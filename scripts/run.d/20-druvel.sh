# The xDSL shell: the configuration manager stand-in goes to /bin/cfgmgr (an
# overlay over this namespace's /bin, the host's stays as it is), then the
# shell answers one command to show it is there.
cfgmgr_bin=$(readlink -f /bin)
mkdir -p /run/druvel-bin/upper /run/druvel-bin/work
cp "$FW_BUILD_DIR/platform/cfgmgr/cfgmgr" /run/druvel-bin/upper/cfgmgr
mount -t overlay overlay -o "lowerdir=$cfgmgr_bin,upperdir=/run/druvel-bin/upper,workdir=/run/druvel-bin/work" \
  "$cfgmgr_bin"
/bin/cfgmgr -w CLI_HOSTNAME=router
"$FW_BUILD_DIR/xdsl/shell/druvel" "help"
echo "druvel: run $FW_BUILD_DIR/xdsl/shell/druvel for the xDSL shell (keys in /var/run/cfgmgr/store)"
