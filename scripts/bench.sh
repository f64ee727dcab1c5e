#!/bin/sh
# Times the benchmark cases S1 .. S7 (synthetic spectra, see bench/cases.h):
# the whole fit with the sparse curvature update and with the full one, and
# the whole command (process start, store read, fit and listing) on a
# temporary store holding the cases. Prints one table.
#
# Usage: scripts/bench.sh [BUILD_DIR]   (run by `make bench`)
set -eu

build=${1:-build}
bench="$build/bench/tavrick_bench"
fit_cmd="$build/main/tavrick"
store_cmd="$build/tools/tavrick-store"
runs=${TAVRICK_BENCH_RUNS:-15}

for b in "$bench" "$fit_cmd" "$store_cmd"; do
  if [ ! -x "$b" ]; then
    echo "bench: $b is missing; build first (make build, with libbenchmark-dev installed)" >&2
    exit 1
  fi
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
cases="S1 S2 S3 S4 S5 S6 S7"

"$bench" --write-cases "$tmp"
TAVRICK_EXPERIMENT="$tmp/store.db"
export TAVRICK_EXPERIMENT
"$store_cmd" init >/dev/null
for c in $cases; do
  "$store_cmd" import "$tmp/$c.txt" --name "$c" >/dev/null
done

echo "bench: fit benchmarks (sparse and full update)..." >&2
# Repetitions interleaved at random: a busy machine slows both updates alike.
"$bench" --benchmark_enable_random_interleaving=true --benchmark_out="$tmp/fit.csv" \
  --benchmark_out_format=csv >/dev/null 2>&1

# The whole command, median and least wall time of $runs runs after one warm-up.
echo "bench: whole command, $runs runs per case..." >&2
for c in $cases; do
  set --
  while IFS= read -r a; do set -- "$@" "$a"; done <"$tmp/$c.args"
  "$fit_cmd" "$@" >/dev/null
  echo "$c $("$bench" --run-command "$runs" "$fit_cmd" "$@")" >>"$tmp/cmd.txt"
done

echo
echo "Whole fit: median CPU time of the engine call (peak search to report);"
echo "full/sparse: the same fit with the full triangular update of the curvature"
echo "matrix. Command: median (least) wall time of the tavrick process."
echo
printf '%-4s %-40s %12s %12s %11s %18s\n' case spectrum "fit (ms)" "full (ms)" full/sparse "command (ms)"
for c in $cases; do
  title=$(cat "$tmp/$c.title")
  # Rows of the CSV: "fit/S1/sparse/..._median",iterations,real_time,cpu_time,unit,...
  sparse=$(awk -F, -v n="fit/$c/sparse/" 'index($1, n) == 2 && $1 ~ /_median"$/ { print $4 }' "$tmp/fit.csv")
  full=$(awk -F, -v n="fit/$c/full/" 'index($1, n) == 2 && $1 ~ /_median"$/ { print $4 }' "$tmp/fit.csv")
  cmd=$(awk -v c="$c" '$1 == c { printf "%.1f (%.1f)", $2, $3 }' "$tmp/cmd.txt")
  awk -v c="$c" -v t="$title" -v s="$sparse" -v f="$full" -v m="$cmd" 'BEGIN {
    printf "%-4s %-40s %12.3f %12.3f %10.1fx %18s\n", c, t, s, f, f / s, m }'
done
