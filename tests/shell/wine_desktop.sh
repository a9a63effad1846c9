#!/usr/bin/env bash
# The desktop the Windows GUI tests run on: an Xvfb server on a free display
# and a Wine prefix of its own whose programs all open on the Wine virtual
# desktop "Tessarin" (1024x768, with title bars, a taskbar and a tray), so
# that a screenshot of the root window shows what a user would see.
#
#   wine_desktop.sh start DIR PREFIX WINE_RUN   starts Xvfb, writes DIR/display (":N")
#                                               and DIR/prefix, and brings the desktop up
#   wine_desktop.sh stop DIR                    ends the prefix's Wine programs and Xvfb
#   wine_desktop.sh shot DIR NAME               saves DIR/screenshots/NAME.png, prints its path
#   wine_desktop.sh env DIR                     prints "export DISPLAY=... WINEPREFIX=..." for eval
#   wine_desktop.sh run DIR WINE_RUN PROGRAM ARGS...   runs a Windows program on the desktop
#
# The prefix is separate from the one of scripts/wine-run's other tests: its
# persistent wineserver starts Wine's explorer (desktop and tray) from the
# first program it runs, with that program's DISPLAY, and a server started
# by a test without a display would leave the desktop nowhere. Every program
# of the GUI tests runs with DISPLAY and WINEPREFIX from `env`.
# CTest runs `start` and `stop` as the fixture WineDesktop.
set -euo pipefail
command="${1:-}" dir="${2:-}"
[[ -n "$command" && -n "$dir" ]] || { echo "usage: $0 start|stop|shot|env|run DIR ..." >&2; exit 2; }

case "$command" in
start)
  prefix="$3" wine_run="$4"
  "$0" stop "$dir" 2>/dev/null || true
  mkdir -p "$dir/screenshots"
  rm -f "$dir/display" "$dir/screenshots/"*.png
  # -displayfd: Xvfb picks a free display and writes its number once it
  # accepts clients. Its streams are not CTest's: CTest waits for every
  # holder of a step's output to let go.
  exec 3>"$dir/display.fd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$dir/xvfb.log" 2>&1 &
  echo $! > "$dir/xvfb.pid"
  exec 3>&-
  for _ in $(seq 100); do [[ -s "$dir/display.fd" ]] && break; sleep 0.1; done
  number="$(tr -dc 0-9 < "$dir/display.fd")"
  [[ -n "$number" ]] || { echo "Xvfb did not start:"; cat "$dir/xvfb.log"; exit 1; }
  echo "$prefix" > "$dir/prefix"
  export DISPLAY=":$number" WINEPREFIX="$prefix"
  # Made once per build; every program of the prefix opens on the virtual
  # desktop "Tessarin".
  if [[ ! -f "$prefix/.tessarin-desktop" ]]; then
    "$wine_run" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Tessarin /f >/dev/null
    "$wine_run" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Tessarin /d 1024x768 /f >/dev/null
    # A desktop not named "Default" has no taskbar and tray unless asked.
    "$wine_run" reg add 'HKCU\Software\Wine\Explorer\Desktops\Tessarin' /v EnableShell /t REG_DWORD /d 1 /f >/dev/null
    touch "$prefix/.tessarin-desktop"
  fi
  # A server still running from before has its explorer on a display that
  # is gone: end it, so that the next program starts one on ours.
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  "$wine_run" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
  echo ":$number" > "$dir/display"
  echo "the Wine desktop is on display :$number (Xvfb $(cat "$dir/xvfb.pid")), prefix $prefix"
  ;;
stop)
  if [[ -f "$dir/prefix" ]]; then
    WINEPREFIX="$(cat "$dir/prefix")" wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  if [[ -f "$dir/xvfb.pid" ]]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$dir/display" "$dir/display.fd"
  ;;
shot)
  name="$3"
  [[ -s "$dir/display" ]] || { echo "no Wine desktop runs (the fixture WineDesktop)" >&2; exit 1; }
  file="$dir/screenshots/$name.png"
  import -display "$(cat "$dir/display")" -window root "$file"
  echo "screenshot: $file"
  ;;
env)
  [[ -s "$dir/display" ]] || { echo "no Wine desktop runs (the fixture WineDesktop)" >&2; exit 1; }
  echo "export DISPLAY=$(cat "$dir/display") WINEPREFIX=$(cat "$dir/prefix")"
  ;;
run)
  [[ -s "$dir/display" ]] || { echo "no Wine desktop runs (the fixture WineDesktop)" >&2; exit 1; }
  wine_run="$3"
  shift 3
  DISPLAY="$(cat "$dir/display")" WINEPREFIX="$(cat "$dir/prefix")" exec "$wine_run" "$@"
  ;;
*)
  echo "usage: $0 start|stop|shot|env|run DIR ..." >&2
  exit 2
  ;;
esac
