#!/usr/bin/env bash
# Starts a private calendar server for the sync tests: its own configuration, storage and log
# under DIR, listening on a loopback port the system picks as it binds (so two builds or two runs
# never fight over a port), with one test user and one task collection "tasks" made for it.
# Tests read what they need from files in DIR:
#   DIR/url       the server's base address, e.g. http://127.0.0.1:40123/
#   DIR/port      the port alone
#   DIR/user      the test user's name;  DIR/password  its password
#   DIR/collection  the address of the task collection made for that user
# stop-radicale.sh DIR ends the server and removes DIR. With --keep-storage, a server that was
# stopped (stop-radicale.sh DIR --keep-storage) starts again on the tasks it had, on a new port.
#   start-radicale.sh DIR [--keep-storage]
set -euo pipefail
dir=${1:?usage: start-radicale.sh DIR [--keep-storage]}
keep=${2:-}
# Debian's interpreter in full: another python3 earlier on PATH may not see Debian's packages.
python=/usr/bin/python3
user=listwise
password='test-secret 1'

if ! "$python" -c 'import radicale' 2>/dev/null; then
  echo "start-radicale: the calendar server is missing (Debian package radicale)" >&2
  exit 1
fi
case "$dir" in
  /*) ;;
  *) echo "start-radicale: $dir is not an absolute path" >&2; exit 1 ;;
esac
if [ -L "$dir" ] || { [ -e "$dir" ] && [ "$(stat -c %u "$dir")" != "$(id -u)" ]; }; then
  echo "start-radicale: $dir exists and is not a folder of this user; remove it first" >&2
  exit 1
fi
# A server left running by an interrupted run of the same build is ended first.
if [ "$keep" = --keep-storage ] && [ -d "$dir/storage" ]; then
  "$(dirname "$0")/stop-radicale.sh" "$dir" --keep-storage || true
  rm -rf "$dir/log" "$dir/port" "$dir/url"
else
  "$(dirname "$0")/stop-radicale.sh" "$dir" || true
  rm -rf "$dir"
fi
mkdir -p "$dir"/{storage,log}

printf '%s:%s\n' "$user" "$password" >"$dir/users"
chmod 600 "$dir/users"
# Port 0: the server binds a free port and logs which one.
cat >"$dir/config" <<CONF
[server]
hosts = 127.0.0.1:0
max_connections = 20
[auth]
type = htpasswd
htpasswd_filename = $dir/users
htpasswd_encryption = plain
delay = 0.05
[rights]
type = owner_only
[storage]
filesystem_folder = $dir/storage
[web]
type = none
[logging]
level = info
mask_passwords = True
CONF

setsid "$python" -m radicale -C "$dir/config" </dev/null >"$dir/log/radicale.out" 2>&1 &
echo $! >"$dir/radicale.pid"
# A start that fails half-way leaves no server behind.
trap 'status=$?; if [ $status != 0 ]; then kill "$(cat "$dir/radicale.pid")" 2>/dev/null; fi' EXIT

port=
for _ in $(seq 1 300); do
  port=$(sed -n "s/.*Listening on '\[\{0,1\}127\.0\.0\.1\]\{0,1\}:\([0-9]*\)'.*/\1/p" "$dir/log/radicale.out" | head -n1)
  [ -n "$port" ] && break
  if ! kill -0 "$(cat "$dir/radicale.pid")" 2>/dev/null; then
    echo "start-radicale: the server ended at once:" >&2
    cat "$dir/log/radicale.out" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "start-radicale: the server did not say which port it listens on:" >&2
  cat "$dir/log/radicale.out" >&2
  exit 1
fi
url="http://127.0.0.1:$port/"
collection="${url}${user}/tasks/"

# The user's task collection, made the way a client makes one: a calendar that holds only tasks.
if [ -d "$dir/storage/collection-root/$user/tasks" ]; then
  echo "$port" >"$dir/port"
  echo "$url" >"$dir/url"
  echo "calendar server on $url again, with the tasks it had"
  exit 0
fi
status=$(curl -s -o "$dir/log/mkcalendar.out" -w '%{http_code}' -u "$user:$password" \
  -X MKCALENDAR -H 'Content-Type: application/xml; charset=utf-8' --data-binary @- "$collection" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<C:mkcalendar xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">
  <D:set><D:prop>
    <D:displayname>Tasks</D:displayname>
    <C:supported-calendar-component-set><C:comp name="VTODO"/></C:supported-calendar-component-set>
  </D:prop></D:set>
</C:mkcalendar>
XML
)
if [ "$status" != 201 ]; then
  echo "start-radicale: the task collection could not be made (HTTP $status):" >&2
  cat "$dir/log/mkcalendar.out" "$dir/log/radicale.out" >&2
  exit 1
fi

echo "$port" >"$dir/port"
echo "$url" >"$dir/url"
echo "$user" >"$dir/user"
printf '%s\n' "$password" >"$dir/password"
echo "$collection" >"$dir/collection"
echo "calendar server on $url with user $user and collection $collection"
