#!/usr/bin/env bash
# tshark's CoAP dissector reads back every field of what the encoder wrote.
set -euo pipefail
samples=$1
command -v tshark >/dev/null || { echo "tshark missing: skipped"; exit 77; }
. "$(dirname "$0")/../../harness/lib.sh"
dir=$(mktemp -d)
on_exit rm -rf "$dir"
"$samples" pcap "$dir/samples.pcap"

decode() {
  tshark -r "$dir/samples.pcap" -d udp.port==5683,coap "$@" 2>/dev/null
}

fields=$(decode -T fields -E separator='|' -e coap.type -e coap.code -e coap.mid \
  -e coap.token -e coap.opt.uri_path -e coap.opt.uri_query -e coap.opt.block_number \
  -e coap.opt.block_mflag -e coap.opt.block_size -e coap.payload_length -e coap.opt.uri_host \
  -e coap.opt.name)
expected='0|1|4660|ab|info|||||||#1: Uri-Path
1|69|1|||||||2||
0|2|258|0102030405060708|zmo,login|a=1,b=x y|5|1|6|||#1: Uri-Path,#2: Uri-Path,#3: Content-Format,#4: Uri-Query,#5: Uri-Query,#6: Block1,#7: Unknown Option (2111),#8: Unknown Option (3001)
2|95|258||||5|0|6|||#1: Block1,#2: Unknown Option (3001)
3|0|7|||||||||
0|1|8||||||||thirteen-char|#1: Uri-Host,#2: Proxy-Uri'
if [ "$fields" != "$expected" ]; then
  echo "tshark decodes differently:"
  diff <(printf '%s\n' "$expected") <(printf '%s\n' "$fields") || true
  exit 1
fi

# The two-byte length extension: a Proxy-Uri of 269 bytes.
proxy=$(decode -Y 'coap.mid == 8' -T fields -e coap.opt.proxy_uri)
[ ${#proxy} -eq 269 ] || { echo "Proxy-Uri is ${#proxy} bytes, want 269"; exit 1; }

# Nothing is malformed.
bad=$(decode -Y '_ws.malformed || _ws.expert.severity == error' | wc -l)
[ "$bad" -eq 0 ] || { echo "$bad malformed datagrams"; decode -Y '_ws.malformed'; exit 1; }
echo "tshark decodes all $(decode | wc -l) datagrams as written"
