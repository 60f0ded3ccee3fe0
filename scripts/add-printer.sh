#!/bin/sh
# Adds the Miravo printer queue to the print system, or brings an existing
# one up to date (or removes it with --remove). Run as root or as a member
# of the print administrators. The queue takes jobs only from
# authenticated users (operation policy "authenticated", part of the print
# system's default configuration): the backend hands a job only to the
# user the print system vouches sent it.
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
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
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
status=0
messages=$(lpadmin -p "$queue" -E -v miravo:/ -P "$ppd" -D "Miravo fax" -L "Sends what is printed as a fax" \
  -o printer-is-shared=false -o printer-op-policy=authenticated 2>&1) || status=$?
printf '%s\n' "$messages" | grep -v -e 'drivers are deprecated' -e '^$' >&2 || true
if [ "$status" != 0 ]; then
  echo "add-printer: the queue $queue could not be set up (the print system needs the" \
    "operation policy \"authenticated\" in cupsd.conf)" >&2
  exit 1
fi
lpstat -p "$queue" >/dev/null
echo "add-printer: queue $queue added"
