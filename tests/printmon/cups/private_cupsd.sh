# Sourced by the print queue test and the print dialog screenshot:
# start_private_cupsd DIR PREFIX runs a print system of its own, as root,
# in the folder DIR, with the Miravo backend of PREFIX beside the system's
# filters. It sets CUPSD_PID and exports CUPS_SERVER (its socket) for the
# CUPS commands; it fails when the print system does not answer.
start_private_cupsd() {
  local dir=$1 prefix=$2 part
  mkdir -p "$dir"/{bin/backend,spool,cache,state,log,tmp,ppd}
  chgrp lp "$dir/tmp" && chmod 1770 "$dir/tmp"
  for part in filter cgi-bin daemon driver monitor notifier; do
    ln -s "/usr/lib/cups/$part" "$dir/bin/$part"
  done
  ln -s "$prefix/lib/cups/backend/miravo" "$dir/bin/backend/miravo"
  cat > "$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel debug
WebInterface No
Browsing No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  cat > "$dir/cups-files.conf" <<CONF
User lp
Group lp
SystemGroup root
ServerRoot $dir
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
ServerBin $dir/bin
TempDir $dir/tmp
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
CONF
  cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" &
  CUPSD_PID=$!
  export CUPS_SERVER="$dir/cups.sock"
  for _ in $(seq 100); do
    [ -S "$CUPS_SERVER" ] && lpstat -r >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
