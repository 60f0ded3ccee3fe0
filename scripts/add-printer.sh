#!/bin/sh
# Adds the Miravo printer queue to the print system (or removes it with
# --remove). Run as root or as a member of the print administrators.
#   add-printer.sh [--remove] [--ppd FILE] [QUEUE]     (QUEUE: Miravo)
# CUPS_SERVER names another print server, as for every CUPS command.
set -eu

queue=Miravo
ppd=""
remove=no
while [ $# -gt 0 ]; do
  case "$1" in
    --remove) remove=yes ;;
    --ppd) shift; ppd="$1" ;;
    -h|--help) sed -n '2,5p' "$0"; exit 0 ;;
    -*) echo "add-printer: unknown option $1" >&2; exit 2 ;;
    *) queue="$1" ;;
  esac
  shift
done

if [ "$remove" = yes ]; then
  exec lpadmin -x "$queue"
fi

# The PPD beside the installed programs, or in the build tree.
here=$(dirname "$(readlink -f "$0")")
if [ -z "$ppd" ]; then
  for candidate in "$here/../share/ppd/miravo/miravo.ppd" "$here/../build/share/ppd/miravo/miravo.ppd"; do
    if [ -f "$candidate" ]; then ppd="$candidate"; break; fi
  done
fi
if [ -z "$ppd" ] || [ ! -f "$ppd" ]; then
  echo "add-printer: miravo.ppd not found (give it with --ppd FILE)" >&2
  exit 1
fi
lpadmin -p "$queue" -E -v miravo:/ -P "$ppd" -D "Miravo fax" -L "Sends what is printed as a fax" \
  -o printer-is-shared=false 2>&1 | grep -v 'drivers are deprecated' >&2 || true
lpstat -p "$queue" >/dev/null
echo "add-printer: queue $queue added"
