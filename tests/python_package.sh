#!/bin/bash
# The Debian package carries the Python module: makes the .deb of the build
# (cpack, as `make package` does), then checks that the module lies in a
# folder of the interpreter's sys.path under /usr, that the package recommends
# that interpreter and NumPy, that its removal takes the bytecode cache, and
# that the module unpacked from the package imports and fits.
#
#   python_package.sh CPACK BUILD_DIR PYTHON SITE_DIR
set -euo pipefail
cpack=$1 build=$2 python=$3 site=$4
work=$(mktemp -d /tmp/tavrick-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "python_package: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(echo "$work"/*.deb)
[ -f "$deb" ] || fail "no .deb made"

"$python" -c 'import sys; sys.exit(sys.argv[1] not in sys.path)' "/usr/$site" ||
  fail "/usr/$site is not on $python's sys.path"
files=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for pattern in "__init__\.py" "_tavrick\.cpython-.*\.so"; do
  grep -qx "\./usr/$site/tavrick/$pattern" <<<"$files" || fail "no /usr/$site/tavrick/$pattern in $deb"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
case $recommends in
  *"python3 (>= $version)"*python3-numpy*) ;;
  *) fail "the package recommends '$recommends', not python3 $version and python3-numpy" ;;
esac

dpkg-deb -I "$deb" prerm | grep -qF "/usr/$site/tavrick/__pycache__" ||
  fail "the package's prerm leaves the module's bytecode cache behind"

dpkg-deb -x "$deb" "$work/root"
cd "$work"
PYTHONPATH="$work/root/usr/$site" "$python" -c 'import sys, tavrick
assert tavrick.__file__.startswith(sys.argv[1]), tavrick.__file__
print(tavrick.fit([5] * 50 + [300, 900, 300] + [5] * 50, 40, 62, [51], [2]).peaks[0].area)' "$work/root/"
