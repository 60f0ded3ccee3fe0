#!/bin/bash
# Conversion benchmark. Usage: bench/convert/run.sh [BUILD_BIN_FOLDER]
#
# 1. Engine against pipeline: the same page files (the sample PDF rendered
#    by miravo-print, and a 50-page job) converted by our engine and by the
#    equivalent ImageMagick + "tiffcp -c g3:2d" pipeline doing the same
#    steps: decode, quarter turn of landscape pages, stretch or aspect-kept
#    fit centred on white, threshold 123, then joining as Group 3 2-D.
# 2. Peak memory of the engine for 3, 50 and 150 pages (a page at a time
#    per core, so it must not grow with the job).
# 0. Job file parsing: an 8 MiB job, one entry a line and all on one line.
# 3. PDF to fax TIFF: miravo-print + miravo-send --convert-only against
#    Ghostscript writing the fax TIFF itself (tiffg32d), the floor: the
#    sample, 51 pages of it, and a long text document of 40 pages with
#    coloured headings, rules and a chart on every page.
# PDF_ONLY=1 runs section 3 alone.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build/bin}" && pwd)
runs=${RUNS:-3}
work=$(mktemp -d /tmp/miravobenchXXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME"

now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The jobs: the sample, and 50 pages cycling through the sample's pages.
sample_job=$("$bin/miravo-print" --no-launch --out "$work/sample" "$root/data/sample.pdf")
mapfile -t sample_pages < <(ls "$work/sample"/job_*_[0-9]* | sort -t_ -k3 -n)
mkdir -p "$work/fifty"
{
  printf 'miravo\n'
  for k in $(seq 1 50); do
    src=${sample_pages[$(( (k - 1) % ${#sample_pages[@]} ))]}
    cp "$src" "$work/fifty/job_50_$k"
    printf '%s__page_numbers__1\n' "$work/fifty/job_50_$k"
  done
} | iconv -f UTF-8 -t UTF-16LE > "$work/fifty/fifty__ps__50"
fifty_job="$work/fifty/fifty__ps__50"

# The pipeline on the page files of a job folder; prints seconds.
pipeline() {
  local folder=$1 out=$2 args=() tifs=()
  local pages
  mapfile -t pages < <(ls "$folder"/job_*_[0-9]* | sort -t_ -k3 -n)
  # The per-page choice of steps is made before the clock starts.
  for p in "${pages[@]}"; do
    read -r w h < <(identify -format '%w %h\n' "$p" | head -1)
    if (( h < w )); then t=$w; w=$h; h=$t; rot="-90"; else rot="0"; fi
    if (( h < 2292 && w < 1728 )); then
      args+=("$rot|-resize 1728x2292!")
    else
      args+=("$rot|-resize 1728x2292> -background white -gravity center -extent 1728x2292")
    fi
  done
  local start end i=0
  start=$(now)
  for p in "${pages[@]}"; do
    IFS='|' read -r rot geo <<< "${args[$i]}"
    # shellcheck disable=SC2086
    convert "$p" -rotate "$rot" $geo -threshold 48.24% -depth 1 -density 204x196 \
      -compress none "$p.tif"
    tifs+=("$p.tif"); i=$((i + 1))
  done
  tiffcp -c g3:2d "${tifs[@]}" "$out"
  end=$(now)
  rm -f "${tifs[@]}"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }'
}

compare() {
  local name=$1 job=$2 folder=$3 pages=$4
  local engine_line engine_pps best=1e9 t pipe_pps
  engine_line=$("$bin/convert_bench" "$job" "$runs")
  engine_pps=$(awk '{ print $6 }' <<< "$engine_line")
  # The pipeline is slow: one run for long jobs.
  local pipe_runs=$runs
  (( pages > 10 )) && pipe_runs=1
  for _ in $(seq 1 "$pipe_runs"); do
    t=$(pipeline "$folder" "$work/pipeline.tif")
    best=$(awk -v a="$t" -v b="$best" 'BEGIN { print (a < b) ? a : b }')
  done
  pipe_pps=$(awk -v p="$pages" -v t="$best" 'BEGIN { printf "%.2f", p / t }')
  echo "$name: engine $engine_pps pages/s, pipeline $pipe_pps pages/s," \
       "ratio $(ratio "$engine_pps" "$pipe_pps")x  [engine: $engine_line]"
}

echo "load before the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
if [[ -z "${PDF_ONLY:-}" ]]; then
echo "== reading an 8 MiB job file, against one plain scan of its text =="
"$bin/job_parse_bench" 8
echo "== engine against ImageMagick + tiffcp -c g3:2d (best of $runs) =="
compare "sample (3 pages)" "$sample_job" "$work/sample" 3
compare "50 pages" "$fifty_job" "$work/fifty" 50

echo "== peak memory of the engine (one run each) =="
# 150 pages: the 50-page job's entries three times over.
{
  printf 'miravo\n'
  for _ in 1 2 3; do iconv -f UTF-16LE -t UTF-8 "$fifty_job" | grep '^/'; done
} | iconv -f UTF-8 -t UTF-16LE > "$work/fifty/more__ps__150"
m3=$("$bin/convert_bench" "$sample_job" 1 | awk '{ print $8 }')
m50=$("$bin/convert_bench" "$fifty_job" 1 | awk '{ print $8 }')
m150=$("$bin/convert_bench" "$work/fifty/more__ps__150" 1 | awk '{ print $8 }')
echo "3 pages: $m3 MiB, 50 pages: $m50 MiB, 150 pages: $m150 MiB," \
     "150 against 50: $(ratio "$m150" "$m50")"

fi

echo "== PDF to fax TIFF: miravo-print + miravo-send against gs tiffg32d (best of $runs) =="
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/big.pdf" \
  $(for _ in $(seq 1 17); do printf '%s ' "$root/data/sample.pdf"; done)
# The long text document: 40 letter pages of justified-looking text lines,
# each with a red heading, a green and a blue rule and a four-bar chart.
cat > "$work/text.ps" <<'PS'
%!PS
<< /PageSize [612 792] >> setpagedevice
/line (The conversion turns every printed page into a fax page of 1728 by 2292 dots.) def
1 1 40 {
  /n exch def
  /Helvetica-Bold findfont 16 scalefont setfont
  1 0 0 setrgbcolor 72 740 moveto (Chapter ) show n 3 string cvs show
  0 0.6 0 setrgbcolor 72 730 468 2 rectfill
  0 setgray /Times-Roman findfont 10 scalefont setfont
  0 1 52 { /k exch def 72 712 k 12 mul sub moveto line show } for
  0 0 1 setrgbcolor 72 60 468 1 rectfill
  0 1 3 { /b exch def b 0.25 mul 0.8 1 b 0.2 mul sub sethsbcolor
          400 b 30 mul add 80 20 b 1 add 25 mul rectfill } for
  showpage
} for
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/text.pdf" "$work/text.ps"
# Each run times both paths back to back, so a ratio compares like load with
# like load; the range of the per-run ratios is printed beside the best
# times, and the two stages of our path (miravo-print, then the conversion)
# are shown for the fastest run.
whole() {
  local pdf=$1 best_ours=1e9 best_gs=1e9 s m e job ours gsrun r lo=1e9 hi=0 stages=""
  for _ in $(seq 1 "$runs"); do
    s=$(now)
    job=$("$bin/miravo-print" --no-launch --out "$work/spool" "$pdf")
    m=$(now)
    "$bin/miravo-send" --convert-only "$job" > /dev/null 2>&1
    e=$(now)
    ours=$(awk -v s="$s" -v e="$e" 'BEGIN { print e - s }')
    if awk -v a="$ours" -v b="$best_ours" 'BEGIN { exit !(a < b) }'; then
      best_ours=$ours
      stages=$(awk -v s="$s" -v m="$m" -v e="$e" 'BEGIN { printf "print %.3fs + convert %.3fs", m - s, e - m }')
    fi
    s=$(now)
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg32d -r204x196 -sOutputFile="$work/gs.tif" "$pdf"
    e=$(now)
    gsrun=$(awk -v s="$s" -v e="$e" 'BEGIN { print e - s }')
    best_gs=$(awk -v a="$gsrun" -v b="$best_gs" 'BEGIN { print (a < b) ? a : b }')
    r=$(ratio "$ours" "$gsrun")
    lo=$(awk -v a="$r" -v b="$lo" 'BEGIN { print (a < b) ? a : b }')
    hi=$(awk -v a="$r" -v b="$hi" 'BEGIN { print (a > b) ? a : b }')
  done
  echo "$(basename "$pdf"): ours ${best_ours}s ($stages), Ghostscript ${best_gs}s," \
       "ratio of best $(ratio "$best_ours" "$best_gs")x, per run ${lo}x-${hi}x"
  last_ours=$best_ours last_gs=$best_gs
}
whole "$root/data/sample.pdf"
small_ours=$last_ours small_gs=$last_gs
whole "$work/big.pdf"
big_ours=$last_ours big_gs=$last_gs
whole "$work/text.pdf"
last_ours=$big_ours last_gs=$big_gs
# What each of the 48 pages beyond the sample's three costs, start-up left
# out: our path starts three programs (miravo-print, its renderer and the
# conversion), Ghostscript one.
awk -v so="$small_ours" -v sg="$small_gs" -v bo="$last_ours" -v bg="$last_gs" 'BEGIN {
  o = (bo - so) / 48 * 1000; g = (bg - sg) / 48 * 1000
  printf "each further page: ours %.2f ms, Ghostscript %.2f ms, ratio %.2fx\n", o, g, o / g }'
