#!/bin/bash
# One end-to-end fit under valgrind memcheck: a golden case's spectrum is
# imported into a fresh store, tavrick fits it under memcheck, and the run must
# report no memory error and no leak, and print the case's expected listing.
#
#   valgrind_fit.sh VALGRIND TAVRICK TAVRICK-STORE CASE-PREFIX
#
# CASE-PREFIX is a golden case without its extension (tests/golden/cases/fwvc):
# PREFIX.txt the spectrum, PREFIX.args the arguments, PREFIX.out the listing.
set -euo pipefail
valgrind=$1 tavrick=$2 store=$3 case=$4
name=$(basename "$case")
work=$(mktemp -d /tmp/tavrick-valgrind-XXXXXX)
trap 'rm -rf "$work"' EXIT
export TAVRICK_EXPERIMENT=$work/experiment.db

"$store" init >/dev/null
"$store" import "$case.txt" --name "$name" >/dev/null
mapfile -t args <"$case.args"

status=0
"$valgrind" --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,possible \
  --log-file="$work/memcheck.log" "$tavrick" "${args[@]}" >"$work/out" || status=$?
if [ -s "$work/memcheck.log" ]; then cat "$work/memcheck.log"; fi
if [ "$status" -ne 0 ]; then
  echo "valgrind_fit: $name: tavrick under memcheck ended with status $status" >&2
  exit 1
fi
if ! cmp -s "$work/out" "$case.out"; then
  echo "valgrind_fit: $name: listing differs from $case.out" >&2
  diff "$case.out" "$work/out" | head -20 >&2
  exit 1
fi
echo "valgrind_fit: $name: no memory errors, no leaks, listing as expected"
