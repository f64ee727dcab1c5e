#!/bin/sh
# Builds the demo store from the bundled spectra and fits a well-known line:
# the 344.28 keV gamma line of Eu-152 in the HPGe calibration spectrum
# data/ortec_eu152_hpge.Chn. The channel of the line is found from the energy
# calibration stored with the spectrum, and the fitted centroid is turned back
# into an energy with the same calibration.
#
# Usage: scripts/demo.sh [BUILD_DIR]   (run by `make demo`)
#        scripts/demo.sh PREFIX STORE     (programs installed in PREFIX/bin)
set -eu

build=${1:-build}
store=${2:-"$build/demo.db"}
spectrum=ortec_eu152_hpge
line_kev=344.28
if [ -x "$build/bin/tavrick" ]; then
  store_cmd="$build/bin/tavrick-store"
  fit_cmd="$build/bin/tavrick"
else
  store_cmd="$build/tools/tavrick-store"
  fit_cmd="$build/main/tavrick"
fi

for b in "$store_cmd" "$fit_cmd"; do
  if [ ! -x "$b" ]; then
    echo "demo: $b is missing; build first (make build)" >&2
    exit 1
  fi
done

echo "== Demo store: $store"
"$store_cmd" demo --experiment "$store"
echo

# Calibration 1 of the spectrum: "POLY keV c0 c1 c2", E = c0 + c1*ch + c2*ch^2.
cal=$("$store_cmd" --experiment "$store" show "$spectrum" |
  sed -n 's/^calibration 1: POLY [^ ]* \([^(]*[^ (]\) *(.*/\1/p')
if [ -z "$cal" ]; then
  echo "demo: spectrum $spectrum has no polynomial energy calibration" >&2
  exit 1
fi
echo "== Spectrum $spectrum, energy calibration E(keV) = c0 + c1*ch + c2*ch^2: $cal"

# Channel of the line, and a window and a width guess around it. The width
# guess is 1.5 keV, about what a germanium detector resolves at this energy.
set -- $(echo "$cal" | awk -v e="$line_kev" '{
  c0 = $1; c1 = $2; c2 = (NF > 2) ? $3 : 0
  if (c2 == 0) ch = (e - c0) / c1
  else ch = (-c1 + sqrt(c1 * c1 - 4 * c2 * (c0 - e))) / (2 * c2)
  ch = int(ch + 0.5)
  w = 1.5 / c1
  printf "%d %d %d %.1f %.17g %.17g %.17g\n", ch, ch - 40, ch + 40, w, c0, c1, c2
}')
peak=$1 lo=$2 hi=$3 width=$4 c0=$5 c1=$6 c2=$7
echo "== The $line_kev keV line of Eu-152 lies near channel $peak; fitting channels $lo to $hi"
echo "   tavrick -spectrum $spectrum -limit $lo $hi -peaks $peak -widths $width -order 1"
echo

out=$(TAVRICK_EXPERIMENT="$store" "$fit_cmd" -spectrum "$spectrum" -limit "$lo" "$hi" \
  -peaks "$peak" -widths "$width" -order 1)
printf '%s\n' "$out"
echo

# The peak row of the results table: number, centroid +/- error, area +/-
# error, FWHM +/- error (all in channels).
printf '%s\n' "$out" | awk -v c0="$c0" -v c1="$c1" -v c2="$c2" -v line="$line_kev" '
  /^ +Centroid +Area/ { row = 1; next }
  row == 1 {
    cen = $2; cerr = $4; area = $5; aerr = $7; fw = $8
    e = c0 + c1 * cen + c2 * cen * cen
    slope = c1 + 2 * c2 * cen
    printf "== Fitted the Eu-152 %s keV line: centroid channel %s +/- %s\n", line, cen, cerr
    printf "   = %.3f +/- %.3f keV by the stored calibration (%+.2f keV from the line),\n", \
      e, slope * cerr, e - line
    printf "   area %s +/- %s counts, FWHM %s channels = %.2f keV\n", area, aerr, fw, slope * fw
    row = 0
  }'
