# The DNS proxy on UDP and TCP port 53 (IPv4 and IPv6), with a statistics
# file; its main configuration is written here, the safety file is the
# AdGuard DNS plug-in's (absent until the plug-in writes it).
cat > /tmp/dnsrelayd.conf <<CONF
dns_server = 127.0.0.53
stat_file = /var/run/dnsrelayd.stats
static_a = router.lan 192.168.1.1
CONF
"$FW_BUILD_DIR/dnsproxy/dnsrelayd" -c /tmp/dnsrelayd.conf -s /var/dnsrelaydsafe.conf \
  -p /var/run/dnsrelayd.pid -d 2> /tmp/dnsrelayd.log &
wait_file /var/run/dnsrelayd.pid
echo "dnsrelayd runs (pid $(cat /var/run/dnsrelayd.pid)), log /tmp/dnsrelayd.log,"
echo "statistics /var/run/dnsrelayd.stats; edit /tmp/dnsrelayd.conf, then: kill -URG \$(cat /var/run/dnsrelayd.pid)"
