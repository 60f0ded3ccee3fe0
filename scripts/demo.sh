#!/usr/bin/env bash
# The main job, as far as the program goes today: builds Miravo and runs it
# the way the print monitor and a user would, in a private settings folder,
# then shows the settings file the run wrote back. The conversion, the send
# path and the desktop dialogs arrive with the next releases; the program
# says so where it would open them.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target miravo miravo_data

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home/config" HOME="$home"

echo "== miravo (plain start) =="
build/bin/miravo
echo
echo "== miravo /config =="
build/bin/miravo /config
echo
echo "== settings written at exit: $XDG_CONFIG_HOME/Miravo/app_config.ini =="
iconv -f UTF-16 -t UTF-8 "$XDG_CONFIG_HOME/Miravo/app_config.ini"
