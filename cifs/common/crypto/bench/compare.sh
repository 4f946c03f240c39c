#!/usr/bin/env bash
# Builds the crypto benchmark without sanitizers, runs it once with OpenSSL's
# AES-NI, PCLMULQDQ and extended-leaf (AVX2, SHA) paths masked, and prints our
# throughput as a fraction of OpenSSL's for each algorithm and size. Runs are
# repeated and interleaved at random, and medians compared, so that a busy
# machine weighs on both sides alike.
#   cifs/common/crypto/bench/compare.sh [build-dir]
# On a busy machine pin it to one core: taskset -c 3 .../compare.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/../../../.." && pwd)
build=${1:-$root/build/bench}
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_SANITIZE=OFF -DFW_TESTS=OFF >/dev/null
cmake --build "$build" --target cifs_crypto_bench >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
OPENSSL_ia32cap="${OPENSSL_ia32cap:-~0x200000200000000:0x0}" \
  "$build/cifs/common/crypto/cifs_crypto_bench" --benchmark_format=json --benchmark_min_time=0.2 \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true >"$out"
python3 - "$out" <<'EOF'
import json, sys
runs = {b["run_name"]: b["bytes_per_second"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
print(f'{"algorithm":<18}{"size":>7}{"ours MB/s":>11}{"OpenSSL MB/s":>14}{"ratio":>8}')
order = ["AesBlock", "Md5", "Sha512", "Sha256", "Gcm", "Ccm", "Cmac", "Smb2Sign"]
keys = sorted((n for n in runs if n.split("/")[1] == "ours"),
              key=lambda n: (order.index(n.split("/")[0]), int(n.split("/")[2])))
for name in keys:
    ours = runs[name]
    algo, impl, size = name.split("/")
    ref = runs[f"{algo}/openssl/{size}"]
    print(f"{algo:<18}{size:>7}{ours/1e6:>11.0f}{ref/1e6:>14.0f}{ours/ref:>8.2f}")
    if algo == "AesBlock":
        low = runs.get(f"AesBlockLowLevel/openssl/{size}")
        if low:
            print(f'{"  vs AES_encrypt":<18}{size:>7}{ours/1e6:>11.0f}{low/1e6:>14.0f}{ours/low:>8.2f}')
EOF
