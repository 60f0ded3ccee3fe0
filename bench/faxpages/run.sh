#!/usr/bin/env bash
# Adding a 50-page document to a fax of 50 pages: converts only the new
# pages. Prints the time of that (conversion of the added document and the
# composing of the one fax) against converting all 100 pages from scratch.
#   bench/faxpages/run.sh [BUILD_DIR]
set -euo pipefail
BUILD=$(readlink -f "${1:-build}")
work=$(mktemp -d /tmp/miravo-faxpages-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
# PostScript documents of pages of text and a grey picture, each numbered.
document() {  # FILE FIRST LAST
  { echo '%!PS'
    echo "$2 1 $3 { /n exch def /Helvetica findfont 28 scalefont setfont"
    echo '  0 1 20 { /l exch def 60 760 l 22 mul sub moveto (Line of the page, number ) show n 10 string cvs show } for'
    echo '  0 1 79 { /i exch def i 80 div setgray 60 i 6 mul add 80 6 200 rectfill } for 0 setgray'
    echo '  showpage } for'; } > "$1"
}
document "$work/fax.ps" 1 50
document "$work/added.ps" 51 100
document "$work/all.ps" 1 100
job() { "$BUILD/bin/miravo-print" --no-launch --out "$work/spool-$1" "$work/$1.ps" | sed -n 1p; }
fax=$(job fax)
added=$(job added)
all=$(job all)
nice "$BUILD/bin/fax_pages_bench" "$fax" "$added" "$all" 3
