#!/usr/bin/env bash
# The web interface's listener under load, run by hand (not a test):
#
#   bench/web_bench.sh [-d seconds] [path ...]
#
# Starts the real client in web mode in a fresh program folder (no
# certificate, no server: the web commands answer from what the client
# has) holding ROWS stored documents (default 10 000, written with sqlite3
# once the client has made its table) on a free port, and beside it nginx
# serving a static file of the same size as the client's answer on another
# free port. For each path (default "/?request=info" and the whole list,
# "/?request=getdocuments&phone=375291234567") it runs wrk
# against both servers over loopback with 1, 50 and 200 connections for
# the given seconds (default 5) and prints requests/s and the 99th
# percentile of latency, then the client's open descriptors and threads
# before and after.
#
# The client closes the connection after each answer; wrk keeps
# connections alive by default, so both servers are sent
# "Connection: close" and pay for a new connection per request alike.
# nginx says "Connection: close" in its answer; the client's answer does
# not, so wrk tries each of its connections once more, finds it closed and
# counts a read error: about one per request, which is that and no failure.
#
# Needs the Debian packages wrk and nginx (or nginx-light); builds the
# client first. Stops everything it started and removes its folder.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
duration=5
if [[ "${1:-}" == "-d" ]]; then
  duration="$2"
  shift 2
fi
paths=("$@")
[[ ${#paths[@]} -gt 0 ]] || paths=("/?request=info" "/?request=getdocuments&phone=375291234567")
rows="${ROWS:-10000}"
for tool in wrk nginx curl sqlite3; do
  command -v "$tool" >/dev/null || { echo "web_bench: $tool is missing (apt-get install wrk nginx-light curl sqlite3)" >&2; exit 1; }
done

"$root/scripts/build" release --target Tessarin TSR_Update >/dev/null
build="$root/build/release"
bench="$(mktemp -d "${TMPDIR:-/tmp}/tessarin-web-bench.XXXXXX")"
chmod 755 "$bench"
client_pid=""
nginx_pid=""
cleanup() {
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null || true
  [[ -n "$client_pid" ]] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null || true
  rm -rf "$bench"
}
trap cleanup EXIT

free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    [[ -z "$(ss -Htln "sport = :$port")" ]] && { echo "$port"; return; }
  done
}

# The client: its own program folder and temporary folder, the marker of
# the web interface, its console a pipe that stays open.
program="$bench/program/"
mkdir -p "$program" "$bench/temp"
cp "$build/src/shell/Tessarin" "$build/src/updater/TSR_Update" "$program"
touch "$program/interface.web"
mkfifo "$bench/console"
TMPDIR="$bench/temp" TESSARIN_WEB_PORT=0 TESSARIN_SERVER=127.0.0.1:1 XDG_CONFIG_HOME="$bench/config" \
  "$program/Tessarin" < "$bench/console" > "$bench/client.txt" 2>&1 &
client_pid=$!
exec {console}>"$bench/console"
client_port=""
for _ in $(seq 100); do
  client_port="$(sed -n 's/.*Web Server port - \([0-9]*\).*/\1/p' "$bench"/temp/Tessarin/Normal/*/*.txt 2>/dev/null | head -1 || true)"
  [[ -n "$client_port" ]] && break
  sleep 0.1
done
[[ -n "$client_port" ]] || { echo "web_bench: the client does not listen" >&2; cat "$bench/client.txt" >&2; exit 1; }

# The stored documents, as years of work leave them: most answered.
sqlite3 -cmd ".timeout 10000" "$program/TS.db" "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < $rows)
  INSERT INTO Messages (idm, dateIn, senderUNP, senderBranch, senderName, type, status, message)
  SELECT x, 1600000000 + x * 600, 190000000 + x % 1000, 0, 'ООО \"Поставщик\" № ' || (x % 1000), 52,
         CASE WHEN x % 10 = 0 THEN 0 ELSE 2 END, zeroblob(3072) FROM n"

# nginx: one static file per path, named after its position.
nginx_port="$(free_port)"
mkdir -p "$bench/www" "$bench/nginx"
cat > "$bench/nginx/nginx.conf" <<EOF
worker_processes auto;
daemon off;
pid $bench/nginx/nginx.pid;
error_log $bench/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $bench/nginx/body;
  proxy_temp_path $bench/nginx/proxy;
  fastcgi_temp_path $bench/nginx/fastcgi;
  uwsgi_temp_path $bench/nginx/uwsgi;
  scgi_temp_path $bench/nginx/scgi;
  default_type text/html;
  server { listen 127.0.0.1:$nginx_port backlog=200; root $bench/www; }
}
EOF
for i in "${!paths[@]}"; do
  # The same number of body bytes as the client's answer to that path.
  size="$(curl -s -H 'Connection: close' "http://127.0.0.1:$client_port${paths[$i]}" | wc -c)"
  head -c "$size" /dev/zero | tr '\0' 'x' > "$bench/www/$i.html"
done
chmod -R a+rX "$bench/www"
nginx -c "$bench/nginx/nginx.conf" -p "$bench/nginx" &
nginx_pid=$!
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$nginx_port/0.html" >/dev/null && break; sleep 0.1; done

usage() {
  echo "descriptors $(ls "/proc/$client_pid/fd" | wc -l), threads $(awk '/^Threads:/ {print $2}' "/proc/$client_pid/status")"
}
before="$(usage)"
threads_before="$(awk '/^Threads:/ {print $2}' "/proc/$client_pid/status")"

# Requests/s and p99 latency of one wrk run.
measure() {
  local url="$1" connections="$2" threads=2 out
  [[ "$connections" -lt 2 ]] && threads=1
  out="$(wrk -t"$threads" -c"$connections" -d"${duration}s" --latency -H 'Connection: close' "$url")"
  printf '%12s req/s  p99 %9s  errors %s\n' \
    "$(awk '/^Requests\/sec:/ {print $2}' <<<"$out")" \
    "$(awk '$1 == "99%" {print $2}' <<<"$out")" \
    "$(awk '/Socket errors|Non-2xx/ {sub(/^ +/, ""); printf "%s; ", $0}' <<<"$out")"
}

echo "client on 127.0.0.1:$client_port, nginx on 127.0.0.1:$nginx_port, ${duration} s per run, Connection: close"
for i in "${!paths[@]}"; do
  for connections in 1 50 200; do
    echo "${paths[$i]} ($(wc -c < "$bench/www/$i.html") body bytes), $connections connections"
    printf '  client  '; measure "http://127.0.0.1:$client_port${paths[$i]}" "$connections"
    printf '  nginx   '; measure "http://127.0.0.1:$nginx_port/$i.html" "$connections"
  done
done
# The requests wrk left queued are answered (into closed connections)
# before the workers end: wait for them, at most a minute.
for _ in $(seq 600); do
  [[ "$(awk '/^Threads:/ {print $2}' "/proc/$client_pid/status")" -le "$threads_before" ]] && break
  sleep 0.1
done
echo "client before: $before"
echo "client after:  $(usage)"
