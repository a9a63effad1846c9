#!/usr/bin/env bash
# The real proxies of the Windows transport tests, started and stopped by
# CTest steps around them: under Wine a Windows test program starts a Linux
# program but gets no handle to wait for or to end it, so these Linux steps
# do. "start DIR" starts tinyproxy (no authorisation), tinyproxy with
# BasicAuth alice s3cret, and microsocks (SOCKS5) on free loopback ports and
# writes each port into DIR/<name>.port; "stop DIR" ends them again.
set -euo pipefail
action="$1"
dir="$2"

stop() {
  for file in "$dir"/*.pid; do
    [[ -f "$file" ]] || continue
    kill "$(cat "$file")" 2>/dev/null || true
    rm -f "$file"
  done
  rm -f "$dir"/*.port
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# Starts "$@" in the background as $name and waits until its port answers.
start_one() {
  local name="$1" port="$2"
  shift 2
  "$@" > "$dir/$name.log" 2>&1 &
  echo $! > "$dir/$name.pid"
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port" > "$dir/$name.port"
      return 0
    fi
    sleep 0.1
  done
  echo "$name did not start:" >&2
  cat "$dir/$name.log" >&2
  return 1
}

tinyproxy_config() {
  printf 'Port %s\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Info\nDisableViaHeader Yes\n' "$1"
  [[ -z "${2:-}" ]] || printf 'BasicAuth %s\n' "$2"
}

mkdir -p "$dir"
stop
[[ "$action" == stop ]] && exit 0

for program in /usr/bin/tinyproxy /usr/bin/microsocks; do
  if [[ ! -x "$program" ]]; then
    echo "$program is missing: scripts/install-deps installs it" >&2
    exit 1
  fi
done
port=$(free_port)
tinyproxy_config "$port" > "$dir/tinyproxy.conf"
start_one tinyproxy "$port" /usr/bin/tinyproxy -d -c "$dir/tinyproxy.conf"
port=$(free_port)
tinyproxy_config "$port" "alice s3cret" > "$dir/tinyproxy-auth.conf"
start_one tinyproxy-auth "$port" /usr/bin/tinyproxy -d -c "$dir/tinyproxy-auth.conf"
port=$(free_port)
start_one microsocks "$port" /usr/bin/microsocks -i 127.0.0.1 -p "$port"
