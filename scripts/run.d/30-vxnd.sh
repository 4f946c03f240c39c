# The NetBIOS name and datagram daemon, vxnd, with a LAN host "lan" on a
# veth to ask it: names held by the test tool answer nmblookup and LLMNR.
ns_add_host lan 192.168.70.2/24 192.168.70.1/24
"$FW_BUILD_DIR/cifs/tools/vxnd" -i 001122334455 > /tmp/vxnd.log 2>&1 &
wait_line /tmp/vxnd.log "VXND: server is ready"
printf 'init 0 1\nregister ROUTER\nregister ROUTER/00\n' | "$FW_BUILD_DIR/cifs/netbios/nbtool" > /dev/null 2>&1 || true
echo "vxnd runs (pid $(cat /var/run/vxnd.pid)), log /tmp/vxnd.log; ROUTER<20> and ROUTER<00> are held"
echo "  try: ns_exec lan nmblookup -U 192.168.70.1 'ROUTER#20'; ns_exec lan nmblookup -A 192.168.70.1"
echo "       ns_exec lan dig -p 5355 @192.168.70.1 router A"
echo "  reload with kill -HUP, stop with kill -TERM \$(cat /var/run/vxnd.pid)"
