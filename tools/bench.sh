#!/usr/bin/env bash
# Runs every benchmark of the build (build/bench_*) in turn and prints what
# each reports; the relay benchmark goes last, so that its summary table of
# ratios closes the output. Fails when a benchmark fails.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SKIFFA_BUILD_DIR:-$root/build}"  # make bench uses build/

shopt -s nullglob
benches=()
for b in "$build"/bench_*; do
  [ "$(basename "$b")" = bench_relay_bench ] && continue
  [ -f "$b" ] && [ -x "$b" ] && benches+=("$b")
done
[ -x "$build/bench_relay_bench" ] && benches+=("$build/bench_relay_bench")
if [ ${#benches[@]} -eq 0 ]; then
  echo "bench: no benchmarks in $build; build first (make build)" >&2
  exit 1
fi

status=0
for b in "${benches[@]}"; do
  echo "=== $(basename "$b") ==="
  if ! "$b"; then
    echo "bench: $(basename "$b") failed" >&2
    status=1
  fi
  echo
done
exit $status
