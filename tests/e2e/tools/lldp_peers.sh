#!/usr/bin/env bash
# lldpsend's frames as tshark decodes them (both forms) and lldpd lists
# them (public form); lldprecv's reports of lldpsend's private frames and of
# lldpd's frames with a "ZMO" custom TLV.
set -euo pipefail
. "$(dirname "$0")/../../harness/lib.sh"
. "$(dirname "$0")/lib_lldp.sh"
require_scenario_ns
lldpsend=$1 lldprecv=$2

add_user lldptest 4711
report_script
ns_add_host peer 10.71.0.2/24 10.71.0.1/24
mac=$(ns_mac - veth-peer)
idx=$(cat /sys/class/net/veth-peer/ifindex)
peer_idx=$(ns_exec peer cat /sys/class/net/eth0/ifindex)

# capture NAME: the next LLDP frame from the router to the peer's eth0 into
# /tmp/NAME.pcap; tcpdump says it listens once its socket is in place.
capture() {
  rm -f "/tmp/$1.pcap" "/tmp/$1.err"
  ip netns exec peer tcpdump -i eth0 -c 1 -U -w "/tmp/$1.pcap" "ether proto 0x88cc and ether src $mac" \
    2> "/tmp/$1.err" &
  capture_pid=$!
  wait_line "/tmp/$1.err" 'listening on' 10
}
# decode NAME: tshark's reading of the captured frame into /tmp/NAME.txt.
decode() {
  wait "$capture_pid" || fail "no LLDP frame captured"
  tshark -r "/tmp/$1.pcap" -V > "/tmp/$1.txt" 2> /dev/null || fail "tshark could not read /tmp/$1.pcap"
}
expect_lines() { # FILE LINE...: each LINE appears in FILE, leading blanks ignored
  local file=$1 l
  shift
  for l in "$@"; do
    sed "s/^ *//" "$file" | grep -xF -- "$l" > /dev/null || fail "no '$l' in $file:
$(cat "$file")"
  done
}

log "public form: tshark and lldpd"
ip netns exec peer lldpd -d -I eth0 -u /tmp/lldpd-peer.sock -O /dev/null > /tmp/lldpd-peer.log 2>&1 &
lldpd_peer=$!
wait_lldpd /tmp/lldpd-peer.sock peer
capture public
"$lldpsend" -u lldptest -M "$mac" -I veth-peer -x "$idx" -p uplink -n gw -D 'Test router' -b &
sender=$!
decode public
# tshark may name a random address after a vendor: only the address counts.
grep -qE "^ *Chassis Id: .*\($mac\)$" /tmp/public.txt || fail "no chassis id $mac in /tmp/public.txt"
expect_lines /tmp/public.txt \
  "Destination: LLDP_Multicast (01:80:c2:00:00:0e)" \
  "Chassis Id Subtype: MAC address (4)" \
  "Port Id Subtype: Interface name (5)" \
  "Port Id: veth-peer" \
  "Seconds: 120" \
  "Port Description: uplink" \
  "System Name: gw" \
  "System Description: Test router" \
  "Capabilities: 0x0014" \
  "Enabled Capabilities: 0x0014" \
  "Organization Unique Code: 5a:4d:4f" \
  "Unknown Subtype Content: $(hex router)" \
  "End of LLDPDU"
if grep -q 'Management Address' /tmp/public.txt; then fail "public form carries a management address"; fi

for _ in $(seq 100); do
  ns_exec peer lldpcli -u /tmp/lldpd-peer.sock show neighbors details -f keyvalue > /tmp/lldpcli.txt
  grep -q chassis.mac /tmp/lldpcli.txt && break
  sleep 0.1
done
expect_lines /tmp/lldpcli.txt \
  "lldp.eth0.via=LLDP" \
  "lldp.eth0.chassis.mac=$mac" \
  "lldp.eth0.chassis.name=gw" \
  "lldp.eth0.chassis.descr=Test router" \
  "lldp.eth0.chassis.Bridge.enabled=on" \
  "lldp.eth0.chassis.Router.enabled=on" \
  "lldp.eth0.port.ifname=veth-peer" \
  "lldp.eth0.port.descr=uplink" \
  "lldp.eth0.port.ttl=120" \
  "lldp.eth0.unknown-tlvs.unknown-tlv.oui=5A,4D,4F" \
  "lldp.eth0.unknown-tlvs.unknown-tlv.subtype=1" \
  "lldp.eth0.unknown-tlvs.unknown-tlv=72,6F,75,74,65,72"
kill "$sender" "$lldpd_peer"
wait "$sender" || fail "lldpsend did not end with status 0"
wait "$lldpd_peer" || true

log "private form: tshark and lldprecv"
ip netns exec peer "$lldprecv" -u lldptest &
receiver=$!
wait_dropped "$receiver" 4711
capture private
"$lldpsend" -u lldptest -S private -M "$mac" -I veth-peer -x "$idx" -D 'Test router' -A 192.168.1.1 -P 80 \
  -V 4.1.2 -c client-1 -C ctl-9 -m router &
sender=$!
decode private
expect_lines /tmp/private.txt \
  "Destination: Broadcast (ff:ff:ff:ff:ff:ff)" \
  "Address String Length: 5" \
  "Address Subtype: IPv4 (1)" \
  "Management Address: 192.168.1.1" \
  "Interface Subtype: ifIndex (2)" \
  "Interface Number: $idx" \
  "OID String Length: 0" \
  "Unknown Subtype Content: $(hex router)" \
  "Unknown Subtype Content: 0050" \
  "Unknown Subtype Content: $(hex 4.1.2)" \
  "Unknown Subtype Content: $(hex client-1)" \
  "Unknown Subtype Content: $(hex ctl-9)"
wait_reports 1
[ -n "$(report_with "mac=$mac" ip=16885952 'desc=Test router' mode=router http_port=80 "interface_idx=$peer_idx" \
  fw_version=4.1.2 cid=client-1 controller_cid=ctl-9)" ] || fail "lldpsend's report: $(cat /tmp/run/reports)"
kill "$sender"
wait "$sender" || fail "lldpsend did not end with status 0"

log "lldpd's frames with a ZMO custom TLV reach lldprecv"
# Only the IPv4 address: a frame with another kind of management address
# gives no report.
lldpd -d -I veth-peer -m 10.71.0.1 -u /tmp/lldpd-router.sock -O /dev/null > /tmp/lldpd-router.log 2>&1 &
lldpd_router=$!
wait_lldpd /tmp/lldpd-router.sock
lldpcli -u /tmp/lldpd-router.sock configure lldp custom-tlv oui 5a,4d,4f subtype 1 oui-info "$(hex client | sed 's/../&,/g; s/,$//')" > /dev/null
lldpcli -u /tmp/lldpd-router.sock update > /dev/null
# 10.71.0.1 read the way lldprecv reads it: the first byte least significant.
want_ip=$(( (1 << 24) | (0 << 16) | (71 << 8) | 10 ))
for _ in $(seq 100); do
  [ -n "$(report_with mode=client)" ] && break
  sleep 0.1
done
[ -n "$(report_with mode=client "mac=$mac" "ip=$want_ip" "interface_idx=$peer_idx" http_port=0 cid=)" ] \
  || fail "lldpd's report: $(cat /tmp/run/reports)"
kill "$lldpd_router" || true
kill -0 "$receiver" || fail "lldprecv is gone"
kill "$receiver"
wait "$receiver" || fail "lldprecv did not end with status 0"
echo PASS
