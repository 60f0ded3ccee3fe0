#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks what it holds,
# what it depends on, and that lintian finds no error in it.
#   debian_package_test.sh BUILD_DIR
set -euo pipefail
BUILD=$(readlink -f "$1")
OUT=$(mktemp -d /tmp/miravo-deb-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
command -v dpkg-deb >/dev/null || { echo "skipped: dpkg-deb missing"; exit 77; }

(cd "$BUILD" && cpack -G DEB -B "$OUT" >/dev/null) || fail "cpack could not build the package"
deb=$(ls "$OUT"/miravo_*.deb)

contents=$(dpkg-deb -c "$deb")
expect() {  # MODE PATH...
  local mode=$1; shift
  for path in "$@"; do
    grep -qE "^$mode .* \./usr/$path\$" <<<"$contents" || fail "the package lacks $path ($mode)"
  done
}
expect '-rwxr-xr-x' bin/miravo bin/miravo-send bin/miravo-print bin/miravo-server bin/miravo-render bin/miravo-transmit \
  sbin/miravo-add-printer
expect '-rwx------' lib/cups/backend/miravo
expect '-rw-r--r--' share/ppd/miravo/miravo.ppd share/miravo/lang.ini share/applications/miravo.desktop \
  share/icons/hicolor/48x48/apps/miravo.png share/man/man1/miravo.1.gz share/man/man8/miravo-server.8.gz \
  share/doc/miravo/copyright share/doc/miravo/changelog.gz lib/miravo/miravo-images.so

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libcurl4 libtiff6 libgs10 libpugixml1v5 qt6-qpa-plugins ghostscript; do
  grep -q "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done
grep -q cups <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "the print system is not recommended"
control=$(dpkg-deb -I "$deb")
grep -q ' postinst' <<<"$control" && grep -q ' prerm' <<<"$control" || fail "maintainer scripts missing"

if command -v lintian >/dev/null; then
  report=$(lintian --no-tag-display-limit "$deb" 2>&1 || true)
  if grep -q '^E: ' <<<"$report"; then
    grep '^E: ' <<<"$report"
    fail "lintian reports errors"
  fi
fi
echo "debian package: all checks passed"
