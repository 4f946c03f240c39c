# The DNS proxy on UDP and TCP port 53 (IPv4 and IPv6) and its text query
# port, with a statistics file. Its upstream is nsd on 127.0.0.2:5353,
# authoritative for example.test (the scenarios' zone); the safety file is
# the AdGuard DNS plug-in's (absent until the plug-in writes it).
work=/tmp/dnsrelayd-upstream
mkdir -p "$work"
. "$FW_SOURCE_DIR/tests/e2e/dnsproxy/lib_dns.sh"
start_nsd 127.0.0.2 5353
cat > /tmp/dnsrelayd.conf <<CONF
dns_server = 127.0.0.2:5353
stat_file = /var/run/dnsrelayd.stats
rpc_port = 6053
max_mem = 1M
static_a = router.lan 192.168.1.1
static_a = *.lan 192.168.1.2
CONF
"$FW_BUILD_DIR/dnsproxy/dnsrelayd" -c /tmp/dnsrelayd.conf -s /var/dnsrelaydsafe.conf \
  -p /var/run/dnsrelayd.pid -d 2> /tmp/dnsrelayd.log &
wait_file /var/run/dnsrelayd.pid
wait_port udp 53
echo "dnsrelayd runs (pid $(cat /var/run/dnsrelayd.pid)), log /tmp/dnsrelayd.log,"
echo "  statistics /var/run/dnsrelayd.stats; upstream nsd for example.test on 127.0.0.2:5353"
echo "  try: dig @127.0.0.1 www.example.test; kdig @::1 +tcp router.lan"
echo "       echo 'resolv-conf A www.example.test' | socat -t1 - UDP4:127.0.0.1:6053"
echo "  edit /tmp/dnsrelayd.conf, then: kill -URG \$(cat /var/run/dnsrelayd.pid)"
if [ "$FW_RUN_SHELL" != 1 ]; then
  echo "  www.example.test -> $(dig @127.0.0.1 +short +tries=1 +time=2 www.example.test A)"
fi
