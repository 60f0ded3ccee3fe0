# Sourced by the print queue test and the print dialog screenshot:
# start_private_cupsd DIR PREFIX [WRAPPER...] runs a print system of its
# own, as root, in the folder DIR, with the Miravo backend of PREFIX beside
# the system's filters, started through WRAPPER when given (the test's
# stand-in for a service manager). Its access rules are the print system's
# defaults as Debian ships them: the "default" policy and the
# "authenticated" one the Miravo queue uses. It sets CUPSD_PID (the
# wrapper's, when there is one) and exports CUPS_SERVER (its socket) for
# the CUPS commands; it fails when the print system does not answer.
start_private_cupsd() {
  local dir=$1 prefix=$2 part
  shift 2
  mkdir -p "$dir"/{bin/backend,spool,cache,state,log,tmp,ppd}
  chgrp lp "$dir/tmp" && chmod 1770 "$dir/tmp"
  for part in filter cgi-bin daemon driver monitor notifier; do
    ln -sfn "/usr/lib/cups/$part" "$dir/bin/$part"
  done
  ln -sfn "$prefix/lib/cups/backend/miravo" "$dir/bin/backend/miravo"
  cat > "$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel debug
WebInterface No
Browsing No
DefaultAuthType Basic
DirtyCleanInterval 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
<Policy authenticated>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    AuthType Default
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Cancel-Job CUPS-Authenticate-Job>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
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
  "$@" cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" &
  CUPSD_PID=$!
  export CUPS_SERVER="$dir/cups.sock"
  for _ in $(seq 100); do
    [ -S "$CUPS_SERVER" ] && lpstat -r >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
