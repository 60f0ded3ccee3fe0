#!/bin/sh
# Makes data/sample.pdf from sample.ps with Ghostscript. The PDF is kept in
# the repository; run this again after changing sample.ps.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dCompatibilityLevel=1.4 \
   -sOutputFile="$here/../sample.pdf" "$here/sample.ps"
