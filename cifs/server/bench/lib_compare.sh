# Set-up shared by the benchmarks that time vxcs beside Samba's smbd, sourced
# inside their nsrun namespace with FW_BUILD_DIR and FW_SOURCE_DIR set. Sets
# work to a fresh temporary folder.
. "$FW_SOURCE_DIR/tests/harness/lib.sh"
require_scenario_ns
work=$(mktemp -d)

# start_vxcs: vxnd, then vxcs serving Share on $work/share, each until ready;
# vxcs_pid is the server's pid.
start_vxcs() {
  mkdir -p /var/run/cifs "$work/share"
  printf "Share;%s;Files\n" "$work/share" > /var/run/cifs/cs_cfg.txt
  "$FW_BUILD_DIR/cifs/tools/vxnd" -i 001122334455 > "$work/vxnd.log" 2>&1 &
  wait_line "$work/vxnd.log" "VXND: server is ready"
  "$FW_BUILD_DIR/platform/vxcs/vxcs" -i 001122334455 > "$work/vxcs.log" 2>&1 &
  vxcs_pid=$!
  wait_line "$work/vxcs.log" "VXCS: server is ready"
}

# start_smbd MIN-PROTOCOL SHARE-DIR [GLOBAL-LINE...]: smbd on port 4450
# serving Share on SHARE-DIR to root with password Secret#1, its state kept
# in $work/samba; each GLOBAL-LINE ("smb2 max read = 65536") joins [global].
start_smbd() {
  local s=$work/samba min=$1 dir=$2
  shift 2
  mkdir -p "$s"/{private,lock,state,cache,pid,ncalrpc,bind-dns}
  cat > "$s/smb.conf" << CONF
[global]
  smb ports = 4450
  server min protocol = $min
$(printf '  %s\n' "$@")
  private dir = $s/private
  lock directory = $s/lock
  state directory = $s/state
  cache directory = $s/cache
  pid directory = $s/pid
  ncalrpc dir = $s/ncalrpc
  binddns dir = $s/bind-dns
  passdb backend = tdbsam:$s/private/passdb.tdb
  log file = $s/smbd.log
  load printers = no
  disable spoolss = yes
[Share]
  path = $dir
  read only = no
CONF
  printf "Secret#1\nSecret#1\n" | smbpasswd -c "$s/smb.conf" -s -a root > /dev/null
  smbd -F --no-process-group -s "$s/smb.conf" > "$s/stdout.log" 2>&1 &
  wait_until 10 _listens -Hltn 4450 "" || { cat "$s/stdout.log" "$s/smbd.log"; exit 1; }
}
