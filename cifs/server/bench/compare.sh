#!/usr/bin/env bash
# Builds the matcher benchmark without sanitizers and prints csMatchPattern's
# time per match beside the C library's fnmatch, with the ratio, for each
# case (medians of interleaved repetitions).
#   cifs/server/bench/compare.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:-$root/build/bench}
mkdir -p "$build"
build=$(cd "$build" && pwd)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_SANITIZE=OFF -DFW_TESTS=OFF >/dev/null
cmake --build "$build" --target cifs_server_match_bench >/dev/null
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/cifs/server/cifs_server_match_bench" --benchmark_format=json --benchmark_min_time=0.2 \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true >"$out"
python3 - "$out" <<'PY'
import json, sys
runs = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        runs[b["run_name"]] = (b["cpu_time"], b.get("label", ""))
print(f'{"case":<10}{"ours ns":>10}{"fnmatch ns":>12}{"ratio":>8}')
for i in range(4):
    ours, label = runs[f"Match/ours/{i}"]
    ref, _ = runs[f"Match/fnmatch/{i}"]
    print(f"{label:<10}{ours:>10.0f}{ref:>12.0f}{ours/ref:>8.2f}")
PY
