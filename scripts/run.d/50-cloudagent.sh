# The cloud agent on 10.9.0.1 with the core's sockets (zmocore_sockets, its
# answers in /tmp/cloudagent/routes.json, admin/admin) and the cloud stand-ins
# on a host "cloud" (10.9.0.2: master on TCP 8081, Mirel server and data
# server), reached by name through this namespace's /etc/hosts. Ticks of 1 s.
work=/tmp/cloudagent
mkdir -p "$work"
printf '127.0.0.1 localhost\n10.9.0.2 gum.quendra-cloud.net\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts
cat > "$work/routes.json" <<'END'
{
  "/rci/show/version/release": "\"4.1.5\"",
  "/rci/show/last-change/checksum": "\"c0ffee\"",
  "/rci/show/system": {"cpuload": 3, "memory": "100/400"},
  "/rci/show/interface": {"ISP": {"global": true, "defaultgw": true}},
  "/rci/show/interface/stat": {"rxbytes": 1000, "txbytes": 2000}
}
END
"$FW_BUILD_DIR/platform/core/zmocore_sockets" --routes "$work/routes.json" --log "$work/core.log" \
  --events "$work/events" > "$work/sockets.out" 2>&1 &
wait_line "$work/sockets.out" ready 5
ns_add_host cloud 10.9.0.2/24 10.9.0.1/24
echo '{}' > "$work/mode.json"
ns_exec cloud python3 "$FW_SOURCE_DIR/tests/e2e/cloudagent/cloud_peer.py" serve 10.9.0.2 "$work/cloud.log" \
  "$work/mode.json" > "$work/cloud.out" 2>&1 &
wait_line "$work/cloud.out" ready 5
echo '{"debug_level": 1, "subscription": {"stats": true, "system": true}}' > "$work/agent.json"
CLOUDAGENT_TICK_MS=1000 "$FW_BUILD_DIR/cloudagent/cloudagent" -f -l -C "$work/agent.json" \
  -k "$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')" 10.9.0.1 > "$work/agent.log" 2>&1 &
wait_port udp 5683 5
echo "cloudagent runs, log $work/agent.log; the cloud logs to $work/cloud.log, the core to $work/core.log"
echo "  try: ns_exec cloud python3 \$FW_SOURCE_DIR/tests/e2e/cloudagent/cloud_peer.py ask 10.9.0.1 GET /info"
echo "       echo 'Event::Type::Wan <e><id>ISP</id><name>wan</name><priority>1</priority></e>' > $work/events"
