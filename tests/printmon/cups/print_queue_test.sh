#!/usr/bin/env bash
# Prints into the Miravo printer queue of a private print service, as the
# users of a multi-user machine: the job's user with a desktop session
# reached through a private session bus, a second login user, a system
# account and root.
#   print_queue_test.sh PREFIX SOURCE_DIR [BUILD_DIR]
# PREFIX holds bin/, lib/cups/backend/miravo, share/ppd/miravo/ and
# share/dbus-1/services/ (the build folder or an installed prefix);
# BUILD_DIR (default PREFIX) holds bin/miravo-test-subreaper. Needs root
# (the print service runs the backend as root); exits 77 (skipped)
# otherwise.
set -euo pipefail
# A command that fails outside a check, and so ends the run, names itself.
trap 'status=$?; [[ $- == *e* ]] && echo "FAIL: line $LINENO: $BASH_COMMAND (status $status)"' ERR
PREFIX=$(readlink -f "$1")
SOURCE=$(readlink -f "$2")
TOOLS=$(readlink -f "${3:-$1}")/bin
[ "$(id -u)" = 0 ] || { echo "skipped: needs root"; exit 77; }
for tool in cupsd lpadmin lp lpstat cancel Xvfb xdotool runuser useradd dbus-daemon \
            dbus-update-activation-environment gs sqlite3; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool missing"; exit 77; }
done
[ -x "$TOOLS/miravo-test-subreaper" ] || { echo "skipped: no miravo-test-subreaper in $TOOLS"; exit 77; }

DIR=$(mktemp -d /tmp/miravo-cups-XXXXXX)
chmod 755 "$DIR"
USER1=miravo-queue-test    # prints, and has a desktop session later
USER2=miravo-queue-other   # a second login user, hostile
SYSUSER=miravo-queue-sys   # a system account
PIDS=()
REAPER=""
RUNTIME=""
log() { cat "$DIR/log/error_log" 2>/dev/null || true; }
# Whether the print service's log says PATTERN (from line FROM on); it
# writes its log a moment after the job ends.
log_has() {
  for _ in $(seq 50); do
    grep -q -- "$1" <(log | tail -n +"${2:-1}") && return 0
    sleep 0.1
  done
  return 1
}
fail() { echo "FAIL: $*"; log | grep -E '\[Job|E \[' | tail -30; exit 1; }
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "$REAPER" ] && kill "$REAPER" 2>/dev/null && wait "$REAPER" 2>/dev/null
  for user in "$USER1" "$USER2" "$SYSUSER"; do
    for pid in $(pgrep -u "$user" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
  done
  sleep 0.3
  for user in "$USER1" "$USER2" "$SYSUSER"; do userdel "$user" 2>/dev/null || true; done
  [ -n "$RUNTIME" ] && rm -rf "$RUNTIME"
  [ -n "${MIRAVO_KEEP_TEST_FOLDER:-}" ] && echo "kept $DIR" || rm -rf "$DIR"
}
trap cleanup EXIT

# The users, each with a home of its own in the test folder.
add_user() {  # NAME [useradd options]
  local name=$1; shift
  id "$name" >/dev/null 2>&1 || useradd --no-create-home --home-dir "$DIR/$name" --user-group --shell /bin/sh "$@" "$name"
  usermod --home "$DIR/$name" "$name" >/dev/null 2>&1 || true
  mkdir -m 700 "$DIR/$name" && chown "$name:" "$DIR/$name"
}
add_user "$USER1"
add_user "$USER2"
add_user "$SYSUSER" --system
HOME1=$DIR/$USER1
UID1=$(id -u "$USER1")
if ! runuser -u "$USER1" -- test -x "$PREFIX/bin/miravo-print"; then
  echo "skipped: $PREFIX/bin is not open to other users"
  exit 77
fi

# The print service, under a stand-in for the service manager that keeps
# and finally kills every process it leaves behind.
source "$SOURCE/tests/printmon/cups/private_cupsd.sh"
start_private_cupsd "$DIR" "$PREFIX" "$TOOLS/miravo-test-subreaper" || fail "the private print service did not start"
REAPER=$CUPSD_PID
"$PREFIX/lib/cups/backend/miravo" | grep -q '^direct miravo ' || fail "no device line"
add_printer="$PREFIX/sbin/miravo-add-printer"
[ -x "$add_printer" ] || add_printer="$SOURCE/scripts/add-printer.sh"
"$add_printer" --ppd "$PREFIX/share/ppd/miravo/miravo.ppd" >/dev/null
lpstat -v Miravo | grep -q 'miravo:/' || fail "queue not added"
grep -q '^OpPolicy authenticated' "$DIR/printers.conf" || fail "the queue does not require authentication"
cp "$DIR/ppd/Miravo.ppd" "$DIR/ppd-before"

# Documents: the three-page sample, PDFs of N pages with a grey area each.
grey_pdf() {  # PAGES FILE
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$2" \
    -c "1 1 $1 { pop 0.6 setgray 72 72 450 700 rectfill 0 setgray 100 500 moveto 400 0 rlineto stroke showpage } for"
}
for user in "$USER1" "$USER2" "$SYSUSER"; do cp "$SOURCE/data/sample.pdf" "$DIR/$user/sample.pdf"; done
grey_pdf 50 "$HOME1/grey50.pdf"
grey_pdf 600 "$HOME1/grey600.pdf"
for user in "$USER1" "$USER2" "$SYSUSER"; do chown "$user:" "$DIR/$user"/*; done

queue_idle() {
  for _ in $(seq 900); do
    [ -z "$(lpstat -o Miravo 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  fail "the queue did not become idle"
}
print_as() {  # USER LP-ARGUMENTS... ; fails when lp refuses
  local user=$1; shift
  runuser -u "$user" -- env CUPS_SERVER="$CUPS_SERVER" lp -d Miravo "$@" >/dev/null 2>&1
}
SPOOL=$HOME1/.cache/Miravo/spool
job_files() { find "$SPOOL" -name "*__ps__*" 2>/dev/null | sort; }
# Tests running beside this one make and remove files in /tmp while it is
# searched: a file gone between its listing and its look is no finding, and
# find's complaint about it must not end the script.
user1_files() {
  { find "$HOME1" /tmp -ignore_readdir_race -user "$USER1" -type f ! -name '*.pdf' 2>/dev/null || true; } | sort
}

# Nothing waits: the login offer ends at once, without a display.
runuser -u "$USER1" -- env -i HOME="$HOME1" timeout 10 "$PREFIX/bin/miravo" --waiting-jobs ||
  fail "the login offer did not end at once with no job waiting"

# Jobs that must be refused, by the print service (lp fails) or by the
# backend (with its reason in the job's log), leaving no file of the job's
# user behind: another user's, root's and a system account's.
while IFS='|' read -r sender owner title reason; do
  marker=$(log | wc -l)
  if [ "$sender" = root ]; then
    lp -U "$owner" -d Miravo -t "$title" "$HOME1/sample.pdf" >/dev/null 2>&1 && refused=no || refused=yes
  else
    print_as "$sender" -U "$owner" -t "$title" "$DIR/$sender/sample.pdf" && refused=no || refused=yes
  fi
  queue_idle
  [ "$refused" = yes ] || log_has "$reason" "$marker" ||
    fail "a job for $owner sent by $sender was neither refused nor reported ($reason)"
done <<CASES
$USER2|$USER1|Phish|names another user than the one who sent it
root|$USER1|Unauthenticated|the job was sent without authentication
$SYSUSER|$SYSUSER|System|is not a login account
CASES
log_has "is not a login account" || fail "the system account's job was not refused"
# The printer's state message, which every user reads, names no one.
! lpstat -p Miravo -l | grep -E "$USER1|$USER2|$SYSUSER|Phish|System" ||
  fail "the printer's state message names a user or a title"
[ -z "$(user1_files)" ] || fail "refused jobs left files: $(user1_files)"
# A job of an unknown user fails with the reason (the print service itself
# no longer lets anyone print in another's name).
set +e
reason=$(AUTH_UID=$UID1 "$PREFIX/lib/cups/backend/miravo" 91 no-such-miravo-user Unknown 1 "" "$HOME1/sample.pdf" 2>&1)
code=$?
set -e
[ "$code" = 5 ] && grep -q "^ERROR: the job's user does not exist" <<<"$reason" &&
  ! grep -q 'no-such-miravo-user' <<<"$reason" ||
  fail "unknown user not refused ($code): $reason"
[ -z "$(find "$DIR/$SYSUSER" ! -path "$DIR/$SYSUSER" ! -name '*.pdf')" ] || fail "a system account's files were touched"
lpstat -p Miravo | grep -qi disabled && fail "a refused job stopped the queue"

# No session bus: jobs wait in the lasting spool. Titles lose controls,
# direction overrides and leading dots; copies are ignored; a document of
# 50 grey pages stays small.
print_as "$USER1" -n 3 -t $'../../.hidden\xe2\x80\xae\xc2\x85fdp' "$HOME1/sample.pdf"
queue_idle
print_as "$USER1" -t Grey "$HOME1/grey50.pdf"
queue_idle
mapfile -t jobs < <(job_files)
[ "${#jobs[@]}" = 2 ] || fail "expected two waiting jobs, found: ${jobs[*]}"
[ "$(stat -c '%U %a' "$SPOOL")" = "$USER1 700" ] || fail "the spool is not the user's own"
[ -z "$(find "$SPOOL" ! -user "$USER1")" ] || fail "files in the spool not owned by the user"
pages_of() { find "$SPOOL" -name "${1##*__ps__}_*" | wc -l; }
title=$(printf '%s\n' "${jobs[@]}" | grep -v '/Grey__ps__' | xargs -d '\n' -n1 basename)
[ "${title%%__ps__*}" = "hiddenfdp" ] || fail "title not made safe: $title"
[ "$(pages_of "$title")" = 3 ] || fail "three copies asked for did not give the three pages once"
log_has 'Copies are ignored: a fax is sent once (3 were asked for)' || fail "the ignored copies were not logged"
grey=$(printf '%s\n' "${jobs[@]}" | grep '/Grey__ps__')
[ "$(pages_of "$grey")" = 50 ] || fail "the grey document did not give 50 page files"
grey_kb=$(find "$SPOOL" -name "${grey##*__ps__}_*" -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
echo "50 grey pages: ${grey_kb} KB of page files"
[ "$grey_kb" -lt 4096 ] || fail "50 grey pages take ${grey_kb} KB (documented: under 4 MB)"
log_has 'the job waits in .* and is offered at the next login' || fail "the backend did not say the job waits"

# A PDF reaches the backend as it was printed: one that needs a password
# waits in the spool as it is (Miravo asks for the password); the pages
# asked for of another are chosen. (Each is removed so later counts hold.)
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOwnerPassword=owner -sUserPassword=secret \
  -sOutputFile="$HOME1/locked.pdf" -c "100 100 moveto 200 0 rlineto stroke showpage"
grey_pdf 3 "$HOME1/three.pdf"
chown "$USER1:" "$HOME1/locked.pdf" "$HOME1/three.pdf"
print_as "$USER1" -t Locked "$HOME1/locked.pdf"
queue_idle
locked=$(find "$SPOOL" -name 'Locked__ps__*.pdf')
[ -n "$locked" ] && cmp -s "$locked" "$HOME1/locked.pdf" ||
  fail "a PDF that needs a password does not wait in the spool as it is"
rm -f "$locked"
while IFS='|' read -r title options pages; do
  # shellcheck disable=SC2086 # the options are words
  print_as "$USER1" -t "$title" $options "$HOME1/three.pdf" || fail "lp refused $options"
  queue_idle
  job=$(find "$SPOOL" -name "${title}__ps__*")
  [ -n "$job" ] && [ "$(pages_of "$job")" = "$pages" ] || fail "$options did not give $pages pages: $job"
  runuser -u "$USER1" -- "$PREFIX/bin/miravo-print" --discard "$job"
done <<CASES
Ranged|-P 2-3|2
Listed|-o page-ranges=1,3-|2
Upside|-o number-up=2 -o landscape|3
CASES
log_has 'number-up=2 is ignored: a fax page holds one page' || fail "an ignored layout option was not logged"
# The print service refuses malformed ranges itself; the backend, given
# them all the same, fails the job with the reason and makes nothing.
for ranges in "0-2" "1,-sOutputFile=$HOME1/x" "3-1"; do
  set +e
  reason=$(AUTH_UID=$UID1 "$PREFIX/lib/cups/backend/miravo" 92 "$USER1" Malformed 1 \
             "job-uuid=urn:x page-ranges='$ranges'" "$HOME1/three.pdf" 2>&1)
  code=$?
  set -e
  [ "$code" = 5 ] && grep -q '^ERROR: the pages asked for (page-ranges=.*) cannot be printed: ' <<<"$reason" ||
    fail "malformed ranges $ranges were not refused ($code): $reason"
  [ -z "$(find "$SPOOL" -name 'Malformed__ps__*')" ] && [ ! -e "$HOME1/x" ] ||
    fail "malformed ranges $ranges made files"
done

# A document that tries to write a file where its renderer must not
# (outside /tmp: Ghostscript's safe mode lets documents write into the
# temporary folder) writes nothing; a broken one fails its job with the
# reason.
OPEN=$(mktemp -d "$DIR/open-XXXXXX")
chmod 777 "$OPEN"
printf '%%!PS\n(%s/written) (w) file dup (x) writestring closefile\nshowpage\n' "$OPEN" > "$HOME1/writer.ps"
printf '%%PDF-1.4\nnot really a document\n' > "$HOME1/broken.pdf"
chown "$USER1:" "$HOME1/writer.ps" "$HOME1/broken.pdf"
print_as "$USER1" -t Writer "$HOME1/writer.ps"
queue_idle
[ ! -e "$OPEN/written" ] || fail "a document wrote a file while it was printed"
if runuser -u "$USER1" -- "$PREFIX/bin/miravo-print" --no-launch --out "$HOME1/sandbox" \
     "$HOME1/writer.ps" >/dev/null 2>&1; then
  fail "the renderer accepted a document that writes a file"
fi
[ ! -e "$OPEN/written" ] || fail "the renderer let a document write a file"
find "$SPOOL" -name 'Writer__ps__*' -exec runuser -u "$USER1" -- "$PREFIX/bin/miravo-print" --discard {} \;
set +e
reason=$(AUTH_UID=$UID1 "$PREFIX/lib/cups/backend/miravo" 90 "$USER1" Broken 1 "" "$HOME1/broken.pdf" 2>&1)
code=$?
set -e
[ "$code" = 5 ] || fail "a broken document did not cancel its job ($code)"
grep -q '^ERROR: the document cannot be rendered' <<<"$reason" || fail "no reason for a broken document: $reason"

# A cancel while the renderer runs leaves nothing; the renderer holds no
# descriptor of the print service's.
before=$(user1_files)
print_as "$USER1" -t Cancelled "$HOME1/grey600.pdf"
renderer=""
for _ in $(seq 300); do
  renderer=$(pgrep -u "$USER1" -x miravo-render || true)
  [ -n "$renderer" ] && break
  sleep 0.05
done
[ -n "$renderer" ] || fail "the renderer did not start"
foreign=$(find "/proc/$renderer/fd" -mindepth 1 -maxdepth 1 ! -name 0 ! -name 1 ! -name 2 \
            \( -lname 'socket:*' -o -lname 'pipe:*' \) 2>/dev/null || true)
[ -z "$foreign" ] || fail "the renderer holds descriptors it did not open: $(ls -l /proc/$renderer/fd)"
cancel -a Miravo
queue_idle
sleep 0.5
[ -z "$(pgrep -u "$USER1" -x miravo-render)" ] || fail "the renderer outlived the cancelled job"
[ "$(user1_files)" = "$before" ] || fail "the cancelled job left: $(comm -13 <(echo "$before") <(user1_files))"

# The desktop session: a display, and the user's session bus at
# /run/user/UID/bus with the display in its activation environment.
exec 5> >(cat > "$DIR/display")
Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x900x24 >/dev/null 2>&1 &
PIDS+=($!)
exec 5>&-
for _ in $(seq 100); do [ -s "$DIR/display" ] && break; sleep 0.1; done
DISPLAY_NUMBER=:$(head -1 "$DIR/display")
mkdir -p /run/user
RUNTIME=/run/user/$UID1
rm -rf "$RUNTIME"
mkdir -m 700 "$RUNTIME" && chown "$USER1:" "$RUNTIME"
cat > "$DIR/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$RUNTIME/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$PREFIX/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
BUS="unix:path=$RUNTIME/bus"
session_env=(env -i HOME="$HOME1" USER="$USER1" LOGNAME="$USER1" PATH=/usr/bin:/bin
             XDG_RUNTIME_DIR="$RUNTIME" DBUS_SESSION_BUS_ADDRESS="$BUS")
runuser -u "$USER1" -- "${session_env[@]}" dbus-daemon --config-file="$DIR/session.conf" --nofork \
  >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -S "$RUNTIME/bus" ] && break; sleep 0.1; done
runuser -u "$USER1" -- "${session_env[@]}" dbus-update-activation-environment DISPLAY="$DISPLAY_NUMBER" ||
  fail "the session's display could not be exported"

# Processes of the user that name another display, or hide status lines
# in their environment, change nothing.
runuser -u "$USER1" -- env -i HOME="$HOME1" DISPLAY=localhost:10.0 sleep 600 &
PIDS+=($!)
runuser -u "$USER1" -- env -i HOME="$HOME1" DISPLAY=$':0\nPPD: DefaultPageSize=Letter\nSTATE: +other-error' \
  WAYLAND_DISPLAY=$'w\nSTATE: +other-error' sleep 600 &
PIDS+=($!)

# The fax service the session's send goes to, and the user's settings.
"$PREFIX/bin/miravo-server" --data "$DIR/server" --port 0 --version-port 0 --demo --quiet \
  > "$DIR/server.out" 2>&1 &
PIDS+=($!)
for _ in $(seq 200); do grep -q 'version page' "$DIR/server.out" && break; sleep 0.1; done
port=$(sed -n 's|.*listening on https://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$DIR/server.out")
version_port=$(sed -n 's|.*version page http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$DIR/server.out")
[ -n "$port" ] || fail "the fax service did not start: $(cat "$DIR/server.out")"
chmod 755 "$DIR/server" && chmod 644 "$DIR/server/ca.pem"
mkdir -p "$HOME1/.config/Miravo"
{ printf '\xff\xfe'
  printf '[OPTIONS]\r\nSERV_NAME=127.0.0.1:%s\r\nOBJ_NAME=api2/proxy.php\r\nCA_FILE=%s\r\nVERSION_HOST=127.0.0.1:%s\r\nUSER_NAME=demo@miravo.test\r\nUSER_PASS=demo\r\nSAVE_PASS=1\r\nTIMEOUT=1000\r\n' \
    "$port" "$DIR/server/ca.pem" "$version_port" | iconv -f UTF-8 -t UTF-16LE
} > "$HOME1/.config/Miravo/app_config.ini"
chown -R "$USER1:" "$HOME1/.config"

# One job of two documents opens one fax of both, in the job's order: the
# program started for it gets both job files, each with its own pages.
grey_pdf 2 "$HOME1/two.pdf"
grey_pdf 1 "$HOME1/one.pdf"
chown "$USER1:" "$HOME1/two.pdf" "$HOME1/one.pdf"
print_as "$USER1" -t Both "$HOME1/two.pdf" "$HOME1/one.pdf" || fail "lp refused a job of two documents"
wait_window() {  # TITLE-PATTERN
  DISPLAY="$DISPLAY_NUMBER" timeout 60 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | sed -n 1p  # reads all: no broken pipe
}
window=$(wait_window '^Miravo [0-9]')
[ -n "$window" ] || fail "a job of two documents opened no send dialog"
queue_idle
log_has 'Miravo opened the job.*s 2 documents as one fax' || fail "the backend did not hand both documents over together"
both=$(DISPLAY="$DISPLAY_NUMBER" xdotool getwindowpid "$window")
mapfile -d '' -t line < "/proc/$both/cmdline"
handed=("${line[@]:2}")
[ "${line[1]}" = "--" ] && [ "${#handed[@]}" = 2 ] || fail "the send dialog was not started with both job files: ${line[*]}"
case "${handed[0]##*/}|${handed[1]##*/}" in
  "Both__ps__"*"|Both 2__ps__"*) ;;
  *) fail "the job's documents were not handed over in order: ${handed[*]}" ;;
esac
# The open fax takes the second job file as soon as it shows (its pages
# are then converted and the job file is gone); the first stays until the
# fax is sent.
[ "$(pages_of "${handed[0]}")" = 2 ] || fail "the first job file does not hold its document's 2 pages"
[ ! -e "${handed[1]}" ] || [ "$(pages_of "${handed[1]}")" = 1 ] ||
  fail "the second job file does not hold its document's page"
kill "$both"
for _ in $(seq 100); do kill -0 "$both" 2>/dev/null || break; sleep 0.1; done

# A print opens the send dialog in the session, through the bus.
print_as "$USER1" -t Desktop "$HOME1/sample.pdf"
window=$(wait_window '^Miravo [0-9]')
[ -n "$window" ] || fail "the send dialog did not open in the session"
queue_idle
log_has 'Miravo opened the job in the session of the job.*s user' || fail "the backend did not report the hand-off"
cmp -s "$DIR/ppd-before" "$DIR/ppd/Miravo.ppd" || fail "the queue's PPD was changed"
lpstat -l -p Miravo | grep -q 'other-error' && fail "a user's environment reached the status channel"
sender=$(DISPLAY="$DISPLAY_NUMBER" xdotool getwindowpid "$window")
[ "$(stat -c %U "/proc/$sender")" = "$USER1" ] || fail "the send dialog does not run as the user"

# The print service stops, with everything it left behind: the dialog
# stays, and a send from it reaches the fax service.
kill "$REAPER"
wait "$REAPER" 2>/dev/null || true
REAPER=""
kill -0 "$sender" 2>/dev/null || fail "the send dialog died with the print service"
# (A click into the first number field, where the dialog lays it out; the
# display has no window manager to give the dialog the focus.)
DISPLAY="$DISPLAY_NUMBER" xdotool windowfocus --sync "$window"
DISPLAY="$DISPLAY_NUMBER" xdotool mousemove --window "$window" 135 366 click 1
sleep 0.3
DISPLAY="$DISPLAY_NUMBER" xdotool type --delay 20 '+49 30 1234567'
DISPLAY="$DISPLAY_NUMBER" xdotool key ctrl+Return
sent=0
for _ in $(seq 300); do
  sent=$(sqlite3 "$DIR/server/miravo.db" 'select count(*) from faxes' 2>/dev/null || echo 0)
  [ "$sent" -ge 1 ] && break
  sleep 0.2
done
[ "$sent" -ge 1 ] || fail "the send from the surviving dialog did not reach the fax service"
kill "$sender" 2>/dev/null || true

# The jobs that waited are offered at the next login. (On a loaded machine
# the offer has once been seen not to reach the display in time; a second
# login is tried, and what happened to the first is printed.)
offer_jobs() {
  runuser -u "$USER1" -- env -i HOME="$HOME1" DISPLAY="$DISPLAY_NUMBER" "$PREFIX/bin/miravo" \
    --waiting-jobs >"$DIR/offer.log" 2>&1 &
  PIDS+=($!)
  [ -n "$(wait_window 'waiting print jobs')" ]
}
if ! offer_jobs; then
  echo "the first login offer did not show:"; cat "$DIR/offer.log"; ps -fu "$USER1"
  offer_jobs || { ls -la "$SPOOL"; fail "the login offer did not list the waiting jobs"; }
fi

# The package's maintainer scripts remove the queue and add it back
# (from an installed prefix, where miravo-add-printer is).
if [ -x "$PREFIX/sbin/miravo-add-printer" ]; then
  start_private_cupsd "$DIR" "$PREFIX" || fail "the private print service did not start again"
  PIDS+=("$CUPSD_PID")
  PATH="$PREFIX/sbin:$PATH" sh "$SOURCE/packaging/prerm" remove
  lpstat -v Miravo >/dev/null 2>&1 && fail "removing the package left the queue"
  PATH="$PREFIX/sbin:$PATH" sh "$SOURCE/packaging/postinst" configure
  lpstat -v Miravo 2>/dev/null | grep -q 'miravo:/' || fail "installing the package added no queue"
  grep -q '^OpPolicy authenticated' "$DIR/printers.conf" || fail "the package's queue does not require authentication"
fi
echo "print queue: all checks passed"
