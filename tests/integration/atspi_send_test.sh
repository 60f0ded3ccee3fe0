#!/usr/bin/env bash
# A send through the accessibility bus alone, in English and in German:
# the controls are found by role and name, a number and a cover text typed,
# Send pressed, and the outcome heard in the status window (atspi_send.py).
#   atspi_send_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(readlink -f "$1")
SOURCE=$(readlink -f "$2")
for tool in Xvfb dbus-run-session iconv /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no pyatspi"; exit 77; }

source "$SOURCE/tests/integration/desktop_harness.sh"
fail() { echo "FAIL: $*"; exit 1; }
harness_folder atspi
harness_xvfb
export QT_QPA_PLATFORM=xcb

harness_server

for language in en de; do
  home=$DIR/home-$language
  export HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
    XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$DIR
  mkdir -p "$XDG_CONFIG_HOME/Miravo"
  { printf '\xff\xfe'
    printf '[OPTIONS]\r\nSERV_NAME=127.0.0.1:%s\r\nOBJ_NAME=api2/proxy.php\r\nCA_FILE=%s\r\nUSER_NAME=demo@miravo.test\r\nUSER_PASS=demo\r\nSAVE_PASS=1\r\nCLOSE_WND=0\r\nVERSION_HOST=\r\n[SETTINGS]\r\nlang=%s\r\n' \
      "$port" "$DIR/server/ca.pem" "$language" | iconv -f UTF-8 -t UTF-16LE; } \
    > "$XDG_CONFIG_HOME/Miravo/app_config.ini"
  job=$("$BUILD/bin/miravo-print" --no-launch --out "$DIR/spool-$language" "$SOURCE/data/sample.pdf") ||
    fail "the sample could not be printed"
  timeout 240 dbus-run-session -- /usr/bin/python3 "$SOURCE/tests/integration/atspi_send.py" \
    "$BUILD/bin/miravo" "$job" "$BUILD/bin/lang.ini" "$language" ||
    fail "the send through the accessibility bus in $language"
done
echo "PASS"
