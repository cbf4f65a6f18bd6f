#!/usr/bin/env bash
# Runs every case of bench_wire in a process of its own, so that each peak
# resident size is that case's own. Usage:
#   bench/wire_figures.sh [build folder] [extended regex of cases]
# A case that takes longer than QUVO_BENCH_WAIT_S (default 120) seconds is
# reported as such. Each case may use at most QUVO_BENCH_VMEM_KB of virtual
# memory (default 8 GiB), so that a runaway does not take the machine with it.
set -uo pipefail
build=${1:-build-release}
filter=${2:-.}
bin="$build/bin/bench_wire"
wait_s=${QUVO_BENCH_WAIT_S:-120}
printf '%-48s %14s %12s\n' case after_last_ms maxrss_MiB
"$bin" --benchmark_list_tests | grep -E -- "$filter" | while read -r name; do
  json=$(mktemp)
  (ulimit -v "${QUVO_BENCH_VMEM_KB:-8388608}"; QUVO_BENCH_WAIT_S=$wait_s exec timeout $((wait_s + 30)) "$bin" --benchmark_filter="^${name}\$" \
    --benchmark_format=json >"$json" 2>/dev/null)
  rc=$?
  if [ $rc -ne 0 ] || [ ! -s "$json" ]; then
    rm -f "$json"
    printf '%-48s %14s %12s\n' "${name%%/iterations*}" "> ${wait_s}000" "(rc $rc)"
    continue
  fi
  python3 - "$name" "$json" <<'EOF'
import json, sys
d = json.load(open(sys.argv[2]))
b = d["benchmarks"][0]
name = sys.argv[1].split("/iterations")[0]
if b.get("error_occurred"):
    print(f'{name:<48} {"> limit":>14} {b.get("error_message", "")}')
else:
    ms = b.get("after_last_byte_ms", b["real_time"])
    print(f'{name:<48} {ms:>14.1f} {b["maxrss_MiB"]:>12.1f}')
EOF
  rm -f "$json"
done
