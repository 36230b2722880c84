#!/usr/bin/env bash
# Starts a private print spooler for the printing tests: its own configuration, spool, cache and
# log folders under DIR, listening only on DIR/cups.sock, with one queue "ListwisePDF" that turns
# every job into a PDF file. Tests reach it with CUPS_SERVER=DIR/cups.sock; the machine's own
# spooler, if any, is never touched. stop-cupsd.sh DIR ends it and removes DIR.
#
# The spooler's print filters run as an unprivileged user, so DIR must be a folder everybody may
# enter (the tests put it under /tmp); DIR itself is made afresh here, readable by all, and a DIR
# that belongs to someone else is refused rather than reused.
#   start-cupsd.sh DIR
set -euo pipefail
dir=${1:?usage: start-cupsd.sh DIR}
queue=ListwisePDF
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd

for tool in /usr/sbin/cupsd /usr/sbin/lpadmin /usr/lib/cups/backend/cups-pdf; do
  if [ ! -x "$tool" ]; then
    echo "start-cupsd: $tool is missing (Debian packages cups and printer-driver-cups-pdf)" >&2
    exit 1
  fi
done

case "$dir" in
  /*) ;;
  *) echo "start-cupsd: $dir is not an absolute path" >&2; exit 1 ;;
esac

# Every folder above DIR must let others pass, or the filters cannot reach the jobs.
parent=$(dirname "$dir")
while :; do
  if [ ! -d "$parent" ]; then
    echo "start-cupsd: $parent does not exist" >&2
    exit 1
  fi
  if [ "$(( 0$(stat -c %a "$parent") & 01 ))" = 0 ]; then
    echo "start-cupsd: $parent does not let the print filters pass (mode $(stat -c %a "$parent"))" >&2
    exit 1
  fi
  [ "$parent" = / ] && break
  parent=$(dirname "$parent")
done

# A spooler left running by an interrupted run of the same build is ended and its folder
# removed, but only a folder of ours: a link or someone else's folder at this name is refused.
if [ -L "$dir" ] || { [ -e "$dir" ] && [ "$(stat -c %u "$dir")" != "$(id -u)" ]; }; then
  echo "start-cupsd: $dir exists and is not a folder of this user; remove it first" >&2
  exit 1
fi
"$(dirname "$0")/stop-cupsd.sh" "$dir" || true
rm -rf "$dir"
mkdir -m 0755 "$dir"
mkdir -p "$dir"/{conf,spool/tmp,cache,state,log}
chmod 0755 "$dir"/*
chmod 1777 "$dir/spool/tmp"
sock="$dir/cups.sock"

cat > "$dir/conf/cupsd.conf" <<CONF
Listen $sock
LogLevel info
Browsing No
WebInterface No
DefaultAuthType None
MaxJobs 100
PreserveJobFiles No
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
CONF

cat > "$dir/conf/cups-files.conf" <<CONF
ServerRoot $dir/conf
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
SystemGroup root
CONF

setsid /usr/sbin/cupsd -f -c "$dir/conf/cupsd.conf" -s "$dir/conf/cups-files.conf" \
  </dev/null >"$dir/log/cupsd.out" 2>&1 &
echo $! >"$dir/cupsd.pid"

for _ in $(seq 1 100); do
  [ -S "$sock" ] && break
  if ! kill -0 "$(cat "$dir/cupsd.pid")" 2>/dev/null; then
    echo "start-cupsd: cupsd ended at once:" >&2
    cat "$dir/log/cupsd.out" "$dir/log/error_log" >&2 2>/dev/null || true
    exit 1
  fi
  sleep 0.1
done
if [ ! -S "$sock" ]; then
  echo "start-cupsd: no socket at $sock" >&2
  exit 1
fi

export CUPS_SERVER="$sock"
/usr/sbin/lpadmin -p "$queue" -E -v cups-pdf:/ -P "$ppd" 2>&1 | grep -v -i 'deprecated' >&2 || true
if ! /usr/bin/lpstat -p "$queue" >/dev/null 2>&1; then
  echo "start-cupsd: the queue $queue could not be made" >&2
  cat "$dir/log/error_log" >&2 2>/dev/null || true
  exit 1
fi
echo "print spooler on $sock with queue $queue"
