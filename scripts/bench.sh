#!/bin/sh
# Times the benchmark cases S1 .. S7 (synthetic spectra, see bench/cases.h):
# the engine's fit with the sparse curvature update and with the full one,
# and the whole command (process start, store read, fit and listing read
# through a pipe, as a front end reads it) beside
#   - the process floor: a static program that only writes the same bytes,
#   - fityk (cfityk, when installed) fitting the same data with the same
#     Gaussians and background, its process time included (S1, S3, S4),
#   - a run with no arguments beside a static hello-world.
# All commands are timed in one interleaved run (tavrick_cmdbench), so the
# ratios hold even on a busy machine. Prints one table.
#
# Usage: scripts/bench.sh [BUILD_DIR]   (run by `make bench`)
#   TAVRICK_BENCH_RUNS   rounds of the command timing (default 21)
#   TAVRICK_BENCH_FIT=0  skip the engine benchmarks (sparse and full update)
set -eu

build=${1:-build}
bench="$build/bench/tavrick_bench"
cmdbench="$build/bench/tavrick_cmdbench"
floor="$build/bench/tavrick_floor"
fit_cmd="$build/main/tavrick"
store_cmd="$build/tools/tavrick-store"
runs=${TAVRICK_BENCH_RUNS:-21}
fit_bench=${TAVRICK_BENCH_FIT:-1}
fityk=$(command -v cfityk || true)

for b in "$bench" "$cmdbench" "$floor" "$fit_cmd" "$store_cmd"; do
  if [ ! -x "$b" ]; then
    echo "bench: $b is missing; build first (make bench, with libbenchmark-dev installed)" >&2
    exit 1
  fi
done
fit_cmd=$(cd "$(dirname "$fit_cmd")" && pwd)/tavrick

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
cases="S1 S2 S3 S4 S5 S6 S7"
fityk_cases="S1 S3 S4"

"$bench" --write-cases "$tmp"
TAVRICK_EXPERIMENT="$tmp/store.db"
export TAVRICK_EXPERIMENT
"$store_cmd" init >/dev/null
for c in $cases; do
  "$store_cmd" import "$tmp/$c.txt" --name "$c" >/dev/null
done

# A fityk script fitting the case's data with the model the arguments ask
# for: the background polynomial of -order and one Gaussian per -peaks value
# (height, centre, half width at half maximum), started at the guesses, the
# widths shared under "-widthopt same".
fityk_script() {
  awk -v data="$tmp/$1.txt" '
    FNR == NR { count[$1] = $2; next }
    /^-/ { opt = $0; next }
    opt == "-peaks" { np++; pos[np] = $0 }
    opt == "-widths" { nw++; fw[nw] = $0 }
    opt == "-widthopt" { same = ($0 == "same") }
    opt == "-order" { order = $0 }
    END {
      b0 = count[0]
      printf "@0 < \047%s\047\n", data
      if (order == 0) printf "F = Constant(~%s)\n", b0
      else if (order == 1) printf "F = Linear(~%s, ~0)\n", b0
      else printf "F = Quadratic(~%s, ~0, ~0)\n", b0
      if (same) printf "$w = ~%g\n", fw[1] / 2
      for (k = 1; k <= np; k++) {
        w = same ? "$w" : sprintf("~%g", (k <= nw ? fw[k] : fw[nw]) / 2)
        h = count[int(pos[k] + 0.5)] - b0
        printf "F += Gaussian(~%g, ~%s, %s)\n", (h > 1 ? h : 1), pos[k], w
      }
      print "fit"
      print "info peaks"
    }' "$tmp/$1.txt" "$tmp/$1.args" >"$tmp/$1.fit"
}

# The plan: one command a line, label and arguments separated by tabs.
tab=$(printf '\t')
for c in $cases; do
  line="$c$tab$fit_cmd"
  while IFS= read -r a; do line="$line$tab$a"; done <"$tmp/$c.args"
  echo "$line" >>"$tmp/plan"
  # The exact bytes the command prints, for the floor to write.
  set --
  while IFS= read -r a; do set -- "$@" "$a"; done <"$tmp/$c.args"
  "$fit_cmd" "$@" >"$tmp/$c.out"
  echo "$c.floor$tab$floor$tab$tmp/$c.out" >>"$tmp/plan"
done
if [ -n "$fityk" ]; then
  for c in $fityk_cases; do
    fityk_script "$c"
    echo "$c.fityk$tab$fityk$tab-I$tab-n$tab-q$tab$tmp/$c.fit" >>"$tmp/plan"
  done
fi
echo "noargs$tab$fit_cmd" >>"$tmp/plan"
echo "hello$tab$floor" >>"$tmp/plan"

if [ "$fit_bench" != 0 ]; then
  echo "bench: fit benchmarks (sparse and full update)..." >&2
  # Repetitions interleaved at random: a busy machine slows both updates alike.
  "$bench" --benchmark_enable_random_interleaving=true --benchmark_out="$tmp/fit.csv" \
    --benchmark_out_format=csv >/dev/null 2>&1
fi

echo "bench: whole commands through a pipe, $runs interleaved rounds..." >&2
"$cmdbench" "$runs" "$tmp/plan" >"$tmp/cmd.txt"

# Rows of cmd.txt: label median-ms least-ms median-faults bytes status.
get() { awk -v l="$1" -v f="$2" '$1 == l { print $f }' "$tmp/cmd.txt"; }

echo
echo "Fit: median CPU time of the engine call (peak search to report), with the"
echo "sparse and with the full triangular update of the curvature matrix."
echo "Command: median (least) wall time of the tavrick process, its listing read"
echo "through a pipe; faults: its page faults; floor: a static program writing the"
echo "same bytes; fityk: cfityk fitting the same data and model, same pipe."
echo
printf '%-4s %-40s %9s %9s %7s %15s %7s %9s %10s %8s\n' case spectrum "fit (ms)" "full (ms)" \
  full/sp "command (ms)" faults "floor (ms)" "fityk (ms)" fityk/tv
for c in $cases; do
  title=$(cat "$tmp/$c.title")
  sparse=- full=- ratio=-
  if [ -f "$tmp/fit.csv" ]; then
    # Rows of the CSV: "fit/S1/sparse/..._median",iterations,real_time,cpu_time,unit,...
    sparse=$(awk -F, -v n="fit/$c/sparse/" 'index($1, n) == 2 && $1 ~ /_median"$/ { printf "%.3f", $4 }' "$tmp/fit.csv")
    full=$(awk -F, -v n="fit/$c/full/" 'index($1, n) == 2 && $1 ~ /_median"$/ { printf "%.3f", $4 }' "$tmp/fit.csv")
    ratio=$(awk -v s="$sparse" -v f="$full" 'BEGIN { printf "%.1fx", f / s }')
  fi
  med=$(get "$c" 2)
  cmd=$(awk -v m="$med" -v l="$(get "$c" 3)" 'BEGIN { printf "%.2f (%.2f)", m, l }')
  fk=- fr=-
  if [ -n "$(get "$c.fityk" 2)" ]; then
    fk=$(get "$c.fityk" 2)
    fr=$(awk -v a="$fk" -v b="$med" 'BEGIN { printf "%.2f", a / b }')
  fi
  printf '%-4s %-40s %9s %9s %7s %15s %7s %9.2f %10s %8s\n' "$c" "$title" "$sparse" "$full" \
    "$ratio" "$cmd" "$(get "$c" 4)" "$(get "$c.floor" 2)" "$fk" "$fr"
done
echo
awk '$1 == "noargs" { n = $2; nf = $4 } $1 == "hello" { h = $2; hf = $4 }
  END { printf "No arguments: %.3f ms, %d faults; static hello-world: %.3f ms, %d faults; ratio %.2f\n",
        n, nf, h, hf, n / h }' "$tmp/cmd.txt"

# The Python module against lmfit and scipy on the same arrays, when built.
if [ -f "$build/python/tavrick/__init__.py" ]; then
  echo "bench: Python module against lmfit and curve_fit (a few minutes)..." >&2
  PYTHONPATH="$build/python" /usr/bin/python3 "$(dirname "$0")/../bench/python_bench.py" "$tmp"
fi
