#!/usr/bin/env bash
# Prints through a private print system into the Miravo printer queue.
#   print_queue_test.sh PREFIX SOURCE_DIR
# PREFIX holds bin/, lib/cups/backend/miravo and share/ppd/miravo/ (the
# build folder or an installed prefix). Needs root (the print system runs
# the backend as root); exits 77 (skipped) otherwise.
set -euo pipefail
PREFIX=$(readlink -f "$1")
SOURCE=$(readlink -f "$2")
[ "$(id -u)" = 0 ] || { echo "skipped: needs root"; exit 77; }
for tool in cupsd lpadmin lp lpstat Xvfb runuser useradd; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done

DIR=$(mktemp -d /tmp/miravo-cups-XXXXXX)
chmod 755 "$DIR"
TESTUSER=miravo-queue-test
PIDS=()
fail() { echo "FAIL: $*"; [ -f "$DIR/log/error_log" ] && grep -E '\[Job|E \[' "$DIR/log/error_log" | tail -30; exit 1; }
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in $(pgrep -u "$TESTUSER" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  sleep 0.5
  userdel "$TESTUSER" 2>/dev/null || true
  [ -n "${MIRAVO_KEEP_TEST_FOLDER:-}" ] && echo "kept $DIR" || rm -rf "$DIR"
  rm -rf "/tmp/miravo-spool-$TESTUID" "$OPEN"
}
TESTUID=none
OPEN=""
trap cleanup EXIT

# The test user, with a home of its own in the test folder.
if ! id "$TESTUSER" >/dev/null 2>&1; then
  useradd --no-create-home --home-dir "$DIR/home" --user-group --shell /bin/sh "$TESTUSER"
fi
usermod --home "$DIR/home" "$TESTUSER" 2>/dev/null || true
TESTUID=$(id -u "$TESTUSER")
mkdir -m 700 "$DIR/home" && chown "$TESTUSER:" "$DIR/home"
rm -rf "/tmp/miravo-spool-$TESTUID"
# The backend runs the programs as that user (the installed-layout test
# covers a build folder that other users cannot enter).
if ! runuser -u "$TESTUSER" -- test -x "$PREFIX/bin/miravo-print"; then
  echo "skipped: $PREFIX/bin is not open to other users"
  exit 77
fi

# A private print system with the backend beside the system's filters.
source "$SOURCE/tests/printmon/cups/private_cupsd.sh"
start_private_cupsd "$DIR" "$PREFIX" || fail "the private print system did not start"
PIDS+=("$CUPSD_PID")

# The device line, and the queue added as the README says.
"$PREFIX/lib/cups/backend/miravo" | grep -q '^direct miravo ' || fail "no device line"
add_printer="$PREFIX/sbin/miravo-add-printer"
[ -x "$add_printer" ] || add_printer="$SOURCE/scripts/add-printer.sh"
"$add_printer" --ppd "$PREFIX/share/ppd/miravo/miravo.ppd" >/dev/null
lpstat -v Miravo | grep -q 'miravo:/' || fail "queue not added"

cp "$SOURCE/data/sample.pdf" "$DIR/home/sample.pdf"
printf 'A plain text letter.\nSecond line.\n' > "$DIR/home/letter.txt"
# A document that tries to write a file where its renderer must not.
# (Outside /tmp: Ghostscript's safe mode lets documents write into the
# temporary folder.)
OPEN=$(mktemp -d /var/tmp/miravo-open-XXXXXX)
chmod 777 "$OPEN"
printf '%%!PS\n(%s/written) (w) file dup (x) writestring closefile\nshowpage\n' "$OPEN" > "$DIR/home/writer.ps"
chown "$TESTUSER:" "$DIR/home"/*

print_as_user() {  # FILE TITLE -> waits until the queue is idle again
  runuser -u "$TESTUSER" -- env CUPS_SERVER="$CUPS_SERVER" lp -d Miravo -t "$2" "$1" >/dev/null
  for _ in $(seq 600); do
    [ -z "$(lpstat -o Miravo 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  fail "job $2 did not finish"
}
job_files() { find /tmp "$DIR/home" -name "*__ps__*" -user "$TESTUSER" 2>/dev/null | sort -u; }
pages_of() { find "$(dirname "$1")" -name "${1##*__ps__}_*" | wc -l; }

# Nobody logged in: the PDF and the text file wait in the user's spool.
print_as_user "$DIR/home/sample.pdf" "Sample/../report"
print_as_user "$DIR/home/letter.txt" "Letter"
mapfile -t jobs < <(job_files)
[ "${#jobs[@]}" = 2 ] || fail "expected two waiting job files, found: ${jobs[*]}"
for job in "${jobs[@]}"; do
  spool=$(dirname "$job")
  [ "$(stat -c '%U %a' "$spool")" = "$TESTUSER 700" ] || fail "spool $spool is not the user's own"
  bad=$(find "$spool" ! -user "$TESTUSER")
  [ -z "$bad" ] || fail "files not owned by the user: $bad"
done
sample=$(printf '%s\n' "${jobs[@]}" | grep '/Sample .. report__ps__') || fail "title not kept safely: ${jobs[*]}"
letter=$(printf '%s\n' "${jobs[@]}" | grep '/Letter__ps__') || fail "no job for the text file"
[ "$(pages_of "$sample")" = 3 ] || fail "sample.pdf did not give three page files"
[ "$(pages_of "$letter")" = 1 ] || fail "the text file did not give one page file"
grep -q 'Nobody is logged in' "$DIR/log/error_log" || fail "the backend did not say the job waits"

print_as_user "$DIR/home/writer.ps" "Writer"
[ ! -e "$OPEN/written" ] || fail "a document wrote a file while it was printed"
# The renderer the backend runs as the user refuses it too.
if runuser -u "$TESTUSER" -- "$PREFIX/bin/miravo-print" --no-launch --out "$DIR/home/sandbox" \
     "$DIR/home/writer.ps" >/dev/null 2>&1; then
  fail "the renderer accepted a document that writes a file"
fi
[ ! -e "$OPEN/written" ] || fail "the renderer let a document write a file"

# A document Ghostscript cannot render fails its job with the reason.
printf '%%PDF-1.4\nnot really a document\n' > "$DIR/home/broken.pdf"
set +e
reason=$("$PREFIX/lib/cups/backend/miravo" 90 "$TESTUSER" Broken 1 "" "$DIR/home/broken.pdf" 2>&1)
code=$?
set -e
[ "$code" = 5 ] || fail "a broken document did not cancel its job ($code)"
grep -q '^ERROR: the document cannot be rendered' <<<"$reason" || fail "no reason for a broken document: $reason"

# A job of an unknown user fails that job only; the queue keeps working.
lp -U no-such-miravo-user -d Miravo "$DIR/home/sample.pdf" >/dev/null
for _ in $(seq 300); do [ -z "$(lpstat -o Miravo 2>/dev/null)" ] && break; sleep 0.1; done
grep -q 'no-such-miravo-user.*does not exist' "$DIR/log/error_log" || fail "unknown user not reported"
lpstat -p Miravo | grep -qi 'disabled' && fail "a failed job stopped the queue"

# A desktop session of the user: miravo opens there with the job file.
exec 5> >(cat > "$DIR/display")
Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 >/dev/null 2>&1 &
PIDS+=($!)
exec 5>&-
for _ in $(seq 100); do [ -s "$DIR/display" ] && break; sleep 0.1; done
DISPLAY_NUMBER=:$(head -1 "$DIR/display")
runuser -u "$TESTUSER" -- env -i HOME="$DIR/home" DISPLAY="$DISPLAY_NUMBER" sleep 600 &
PIDS+=($!)
before=$(job_files)
print_as_user "$DIR/home/sample.pdf" "Desktop"
# (The backend is named miravo too: wait for the process that runs the
# program with the job file, not a fork of the backend on its way there.)
miravo=""
for _ in $(seq 200); do
  for pid in $(pgrep -u "$TESTUSER" -x miravo || true); do
    tr '\0' '\n' < "/proc/$pid/cmdline" 2>/dev/null | grep -q '/Desktop__ps__' && miravo=$pid
  done
  [ -n "$miravo" ] && break
  sleep 0.1
done
[ -n "$miravo" ] || fail "miravo was not started for the user with the job file"
tr '\0' '\n' < "/proc/$miravo/environ" | grep -qx "DISPLAY=$DISPLAY_NUMBER" || fail "miravo is not on the session's display"
[ "$(stat -c %U "/proc/$miravo")" = "$TESTUSER" ] || fail "miravo does not run as the user"
grep -q "Miravo opened on display $DISPLAY_NUMBER" "$DIR/log/error_log" || fail "the backend did not report the start"
# It converts the job and opens the send dialog there.
wait_window() {  # PID TITLE-PATTERN
  DISPLAY="$DISPLAY_NUMBER" timeout 30 xdotool search --sync --onlyvisible --pid "$1" --name "$2" >/dev/null 2>&1
}
if command -v xdotool >/dev/null; then
  wait_window "$miravo" '^Miravo [0-9]' || fail "miravo did not open the send dialog"
fi
kill "$miravo"

# The jobs that waited are offered when miravo next starts.
runuser -u "$TESTUSER" -- env -i HOME="$DIR/home" DISPLAY="$DISPLAY_NUMBER" "$PREFIX/bin/miravo" \
  >/dev/null 2>&1 &
offer=$!
PIDS+=($offer)
if command -v xdotool >/dev/null; then
  sleep 1
  wait_window "$(pgrep -u "$TESTUSER" -x miravo | head -1)" 'waiting print jobs' ||
    fail "miravo did not offer the waiting jobs"
fi
# The package's maintainer scripts remove the queue and add it back
# (from an installed prefix, where miravo-add-printer is).
if [ -x "$PREFIX/sbin/miravo-add-printer" ]; then
  PATH="$PREFIX/sbin:$PATH" sh "$SOURCE/packaging/prerm" remove
  lpstat -v Miravo >/dev/null 2>&1 && fail "removing the package left the queue"
  PATH="$PREFIX/sbin:$PATH" sh "$SOURCE/packaging/postinst" configure
  lpstat -v Miravo 2>/dev/null | grep -q 'miravo:/' || fail "installing the package added no queue"
fi
echo "print queue: all checks passed"
