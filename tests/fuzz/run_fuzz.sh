#!/bin/bash
# Runs one fuzz target for a bounded time from a seed corpus made of the
# project's own files, and prints the corpus size and the execution rate.
#
#   run_fuzz.sh TARGET-BINARY KIND SOURCE-DIR WORK-DIR [SECONDS]
#
# KIND (options, format, readers, store, import, engine) says how the seeds are made:
#   options  the golden cases' argument files, arguments separated by NUL
#   format   the formats and values of the gfortran vectors, one per seed
#   readers  the real spectra in data/ and the golden spectra, each behind
#            every reader's selector byte
#   import   the same files behind the selector of their extension
#   store    stores the target writes itself (TAVRICK_FUZZ_SEEDS)
#   engine   settings and counts from the golden cases' spectra
# Every input in tests/fuzz/regressions/KIND (inputs that once broke the
# target) is a seed too. SECONDS defaults to $TAVRICK_FUZZ_SECONDS, else 20.
# The seeds are made afresh each run; the corpus the fuzzer grows stays in
# WORK-DIR/corpus.
set -euo pipefail
bin=$1 kind=$2 src=$3 work=$4
seconds=${5:-${TAVRICK_FUZZ_SECONDS:-20}}

seeds=$work/seeds
mkdir -p "$work/corpus" "$work/artifacts"
rm -rf "$seeds" "$work/summary.txt"
mkdir -p "$seeds"

case $kind in
  options)
    for f in "$src"/tests/golden/cases/*.args; do
      # One argument per line; the last newline ends the last argument.
      tr '\n' '\0' <"$f" | head -c -1 >"$seeds/$(basename "$f")"
    done
    printf '' >"$seeds/none"
    printf -- '-spectrum\0s\0-limit\0100\0200\0-peaks\0150\0-widths\0-3' >"$seeds/neg-width"
    printf -- '-spectrum\0s\0-shape\0skew\0-limit\0100\0200\0-peaks\0150\0-widths\0 3\0-skews\0 2' \
      >"$seeds/skew"
    ;;
  format)
    # Each block of the vectors: "fmt FORMAT", value lines, "=", output, ".".
    awk -v dir="$seeds" '
      /^fmt / { n++; file = sprintf("%s/v%04d", dir, n); print substr($0, 5) > file; on = 1; next }
      /^=/    { if (on) close(file); on = 0; next }
      on      { print > file }' "$src/tests/format/vectors.txt"
    ;;
  readers)
    exts=(txt csv spe Chn cnf n42 xml mat "" sto)
    for f in "$src"/data/* "$src"/tests/golden/cases/*.txt; do
      base=$(basename "$f")
      e=8
      for i in "${!exts[@]}"; do
        if [ -n "${exts[$i]}" ] && [ "${base##*.}" = "${exts[$i]}" ]; then e=$i; fi
      done
      for r in 0 1 2 3 4 5 6 7; do
        sel=$((r + 8 * e))
        { printf "\\$(printf '%03o' "$sel")"; cat "$f"; } >"$seeds/$base.$r"
      done
    done
    ;;
  import)
    exts=(txt csv spe Chn cnf n42 xml mat "" sto)
    for f in "$src"/data/* "$src"/tests/golden/cases/*.txt; do
      base=$(basename "$f")
      e=8
      for i in "${!exts[@]}"; do
        if [ -n "${exts[$i]}" ] && [ "${base##*.}" = "${exts[$i]}" ]; then e=$i; fi
      done
      { printf "\\$(printf '%03o' "$e")"; cat "$f"; } >"$seeds/$base"
    done
    ;;
  store)
    TAVRICK_FUZZ_SEEDS=$seeds "$bin" -runs=0 "$seeds" >/dev/null 2>&1 || true
    ;;
  engine)
    # Gauss, default options, order 2, a window of 101 channels, one peak,
    # then the counts of each golden text spectrum as 32-bit integers.
    for f in "$src"/tests/golden/cases/*.txt; do
      {
        printf '\000\000\000\002\144\000\000\000\120\000\000\000\000\000\000\000\000\000\000'
        printf '\000\000\000\077\000\000\200\100\000\000\200\100'
        LC_ALL=C awk 'NF { v = $NF + 0; printf "%c%c%c%c", v % 256, int(v / 256) % 256, int(v / 65536) % 256, 0 }' "$f"
      } >"$seeds/$(basename "$f")"
    done
    ;;
  *)
    echo "run_fuzz.sh: unknown kind $kind" >&2
    exit 2
    ;;
esac

# Inputs that once broke a target stay among its seeds (tests/fuzz/regressions/KIND).
dirs=("$work/corpus" "$seeds")
if [ -d "$src/tests/fuzz/regressions/$kind" ]; then dirs+=("$src/tests/fuzz/regressions/$kind"); fi

log=$work/fuzz.log
status=0
"$bin" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
  -max_len=1048576 -artifact_prefix="$work/artifacts/" "${dirs[@]}" >"$log" 2>&1 ||
  status=$?

units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
{
  echo "fuzz $(basename "$bin"): ${seconds} s, seeds $(ls "$seeds" | wc -l)," \
    "corpus $(ls "$work/corpus" | wc -l) files (${added:-0} new)"
  echo "fuzz $(basename "$bin"): executions ${units:-?}, ${rate:-?} per second"
} | tee "$work/summary.txt"
if [ "$status" -ne 0 ]; then
  echo "fuzz $(basename "$bin"): FAILED with status $status; log $log, inputs in $work/artifacts" >&2
  grep -v '^#[0-9]' "$log" | tail -60 >&2
fi
exit "$status"
