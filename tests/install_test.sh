#!/bin/bash
# The installed programs on their own: installs the build into a fresh
# prefix, then, from an unrelated folder, creates the demo store from the
# spectra installed beside the programs and fits the demo line with the
# installed tavrick. The listing must be byte for byte the build tree's.
#
#   install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1 build=$2
work=$(mktemp -d /tmp/tavrick-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install_test: $*" >&2; exit 1; }
for f in bin/tavrick bin/tavrick-sketch bin/tavrick-store bin/tavrick-batch share/doc/tavrick/README.md \
         share/tavrick/data/PROVENANCE.md share/tavrick/data/ortec_eu152_hpge.Chn; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done

mkdir "$work/elsewhere"
cd "$work/elsewhere"
report=$("$prefix/bin/tavrick-store" --experiment x.db demo)
case $report in
  *"from $prefix/share/tavrick/data") ;;
  *) fail "demo did not read the installed spectra: $report" ;;
esac

args=(-spectrum ortec_eu152_hpge -limit 1840 1920 -peaks 1880 -widths 8.2 -order 1)
TAVRICK_EXPERIMENT=x.db "$prefix/bin/tavrick" "${args[@]}" >installed.out
TAVRICK_EXPERIMENT=x.db "$build/main/tavrick" "${args[@]}" >built.out
cmp -s installed.out built.out || fail "installed tavrick's listing differs from the build's"
grep -q '^ *1 *1882\.' installed.out || fail "demo line not fitted near channel 1882"
echo "install_test: installed into $prefix; demo store and fit work from $work/elsewhere"
