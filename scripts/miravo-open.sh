#!/bin/sh
# miravo-open [FILE...]: what the desktop entry runs. Without a file it
# starts miravo; a job file or a fax TIFF goes to miravo as it is; any
# other document (PDF, PostScript, PNG, JPEG) is printed into a job first,
# which then opens in miravo for sending.
set -eu
here=$(dirname "$(readlink -f "$0")")
if [ $# -eq 0 ]; then
  exec "$here/miravo"
fi
if [ $# -eq 1 ]; then
  head=$(head -c 12 -- "$1" 2>/dev/null | od -An -c | tr -d ' \n')
  case "$head" in
    [Mm]\\0[Ii]\\0[Rr]\\0[Aa]\\0[Vv]\\0[Oo]\\0*|II\*\\0*|MM\\0\**) exec "$here/miravo" "$1" ;;
  esac
fi
exec "$here/miravo-print" -- "$@"
