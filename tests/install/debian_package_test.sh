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
expect '-rw-r--r--' share/ppd/miravo/miravo.ppd share/miravo/lang.ini share/applications/org.miravo.Miravo.desktop \
  share/icons/hicolor/48x48/apps/org.miravo.Miravo.png share/man/man1/miravo.1.gz share/man/man8/miravo-server.8.gz \
  share/doc/miravo/copyright share/doc/miravo/changelog.gz lib/miravo/miravo-images.so \
  share/dbus-1/services/org.miravo.Miravo.service lib/systemd/user/org.miravo.Miravo.service \
  share/metainfo/org.miravo.Miravo.metainfo.xml
grep -qE '^-rw-r--r-- .* \./etc/xdg/autostart/miravo-waiting-jobs\.desktop$' <<<"$contents" ||
  fail "the package lacks the autostart entry in /etc/xdg/autostart"
mkdir "$OUT/tree"
dpkg-deb -x "$deb" "$OUT/tree"
grep -qx 'Exec=/usr/bin/miravo --bus-service' "$OUT/tree/usr/share/dbus-1/services/org.miravo.Miravo.service" ||
  fail "the service file does not start /usr/bin/miravo"

depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6dbus6 libdbus-1-3 libcurl4 libtiff6 libgs10 libpugixml1v5 qt6-qpa-plugins \
               qt6-wayland ghostscript qt6-translations-l10n; do
  grep -q "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done
grep -q cups <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "the print system is not recommended"
control=$(dpkg-deb -I "$deb")
grep -q ' postinst' <<<"$control" && grep -q ' prerm' <<<"$control" || fail "maintainer scripts missing"
grep -q ' conffiles' <<<"$control" || fail "the autostart entry is not a configuration file"

if command -v lintian >/dev/null; then
  report=$(lintian --no-tag-display-limit "$deb" 2>&1 || true)
  if grep -q '^E: ' <<<"$report"; then
    grep '^E: ' <<<"$report"
    fail "lintian reports errors"
  fi
fi
echo "debian package: all checks passed"
