#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png from the real dialogs: runs the
# desktop end-to-end test (print, convert, Options, account management,
# contact book, mass-fax list, send, status window against miravo-server)
# on an X server of its own (Xvfb) and saves each dialog on its way.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" \
  --target desktop_send_test ui_sent_faxes_window_test miravo-server miravo-print miravo_data

out=$PWD/docs/screenshots
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$out" \
  build/bin/desktop_send_test --gtest_brief=1
# The "Sent faxes" window over a journal of a few weeks.
xvfb-run -a -s "-screen 0 1280x1024x24" \
  env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$out" \
  build/bin/ui_sent_faxes_window_test --gtest_filter='*Screenshot' --gtest_brief=1
ls -1 "$out"
