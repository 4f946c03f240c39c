# The SMB server's control tool: the CIFS plug-in runs it by name, so it goes
# to /usr/local/sbin on the PATH (an overlay over this namespace's folder,
# the host's stays as it is). It talks to the server on 127.0.0.1:4445.
sbin=/usr/local/sbin
mkdir -p /run/vxcsctrl-bin/upper /run/vxcsctrl-bin/work
cp "$FW_BUILD_DIR/cifs/tools/vxcsctrl" /run/vxcsctrl-bin/upper/vxcsctrl
mount -t overlay overlay -o "lowerdir=$sbin,upperdir=/run/vxcsctrl-bin/upper,workdir=/run/vxcsctrl-bin/work" "$sbin"
case ":$PATH:" in
  *":$sbin:"*) ;;
  *) export PATH=$sbin:$PATH ;;
esac
echo "vxcsctrl is $(command -v vxcsctrl); try: vxcsctrl (usage), vxcsctrl ES once the server runs"
