# The base library's layer-2 sockets: a "chip" host on a veth pair gets one
# management frame (ethertype 0x6120), as the xDSL driver will send them.
probe=$FW_BUILD_DIR/tests/l2probe
ns_add_host chip 10.61.0.2/24 10.61.0.1/24
ns_exec chip "$probe" recv eth0 24864 3000 > /tmp/chip-frame &
wait_line /tmp/chip-frame ready 5
echo "sent:     $("$probe" send "$(ns_if chip)" "$(ns_mac chip)" 24864 00070a0b0c0d0e0f1011)"
wait $! || true
echo "received: $(sed -n 2p /tmp/chip-frame)"
echo "host 'chip' is at 10.61.0.2 behind $(ns_if chip); try: ns_exec chip ip addr"
