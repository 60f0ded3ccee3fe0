#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png from the real dialogs: runs the
# desktop end-to-end test (print, convert, Options, account management,
# contact book, mass-fax list, send dialog with and without the cover page
# and with a fax of several documents,
# status window against miravo-server, and a transfer whose connection
# drops) on an X server of its own (Xvfb) with a laptop-sized screen,
# 1366 x 768, once per shipped language, and saves each dialog on its way.
# English pictures are named after the dialog, the others carry the
# language code ("send-dialog-de.png").
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" \
  --target desktop_send_test ui_sent_faxes_window_test ui_contact_book_dialog_test \
  ui_converting_dialog_test ui_mass_fax_dialog_test \
  ui_options_dialog_test ui_open_fax_offer_test miravo-server miravo-print \
  miravo-render miravo_data

out=$PWD/docs/screenshots
mkdir -p "$out"
for language in en de ru; do
  xvfb-run -a -s "-screen 0 1366x768x24" \
    env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$out" MIRAVO_SCREENSHOT_LANG="$language" \
    build/bin/desktop_send_test --gtest_brief=1
  # The "Sent faxes" window over a journal of a few weeks.
  xvfb-run -a -s "-screen 0 1366x768x24" \
    env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$out" MIRAVO_SCREENSHOT_LANG="$language" \
    build/bin/ui_sent_faxes_window_test --gtest_filter='*Screenshot' --gtest_brief=1
  # The password prompt of a protected PDF; the message for a damaged file.
  xvfb-run -a -s "-screen 0 1366x768x24" \
    env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$out" MIRAVO_SCREENSHOT_LANG="$language" \
    build/bin/ui_converting_dialog_test --gtest_filter='*Protected*:*Damaged*' --gtest_brief=1
  # The contact book after a vCard import; Options with the password in the
  # keyring; the CSV import's preview.
  # The question when something is printed while a fax is open.
  for test in ui_contact_book_dialog_test ui_options_dialog_test ui_mass_fax_dialog_test \
              ui_open_fax_offer_test; do
    xvfb-run -a -s "-screen 0 1366x768x24" \
      env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$out" MIRAVO_SCREENSHOT_LANG="$language" \
      build/bin/$test --gtest_filter='*Screenshot' --gtest_brief=1
  done
done
# French, Spanish and Japanese: the send dialog with the cover page and the
# status window.
for language in fr es ja; do
  scratch=$(mktemp -d)
  xvfb-run -a -s "-screen 0 1366x768x24" \
    env QT_QPA_PLATFORM=xcb MIRAVO_SCREENSHOTS="$scratch" MIRAVO_SCREENSHOT_LANG="$language" \
    build/bin/desktop_send_test --gtest_brief=1
  cp "$scratch/send-dialog-cover-$language.png" "$scratch/status-window-$language.png" "$out/"
  rm -rf "$scratch"
done
ls -1 "$out"
