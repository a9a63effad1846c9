# Sourced by the Windows client's tests under Wine (wine_client_sim.sh,
# wine_window.sh): the Linux server simulator on loopback, a program folder
# of Tessarin.exe whose settings tsr-tool.exe writes, the test PKI in the
# stores of the Wine desktop's prefix, and the client started on that
# desktop with its console on "$work/console.txt". The window is looked at
# and driven from outside by window_probe.exe; screenshots land in the
# desktop's screenshots folder.
# Arguments: AIS_SIM PKI WORK TESSARIN_EXE TSR_UPDATE_EXE TSR_TOOL_EXE PKI_STORES_EXE WINE_RUN
#            WINE_DESKTOP_SH DESKTOP_DIR WINDOW_PROBE_EXE
# Exit status 77 (skipped) when the Linux simulator is not built.
sim_program="$1" pki="$2" work="$3" client_exe="$4" updater_exe="$5" tool_exe="$6" stores_exe="$7" wine_run="$8"
wine_desktop="$9" desktop="${10}" probe_exe="${11}"

if [[ ! -x "$sim_program" ]]; then
  echo "skipped: the Linux server simulator $sim_program is not built (scripts/test builds it first;" \
       "by hand: scripts/build release --target ais-sim)"
  exit 77
fi
# Every Wine program of the test runs on the desktop, in its prefix.
eval "$(bash "$wine_desktop" env "$desktop")"

rm -rf "$work"
mkdir -p "$work/program"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  "$wine_run" "$stores_exe" remove "$pki" >/dev/null 2>&1 || true
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  shot failure || true
  echo "---- the client's console"
  cat "$work/console.txt" 2>/dev/null || true
  echo "---- the simulator"
  tail -n 40 "$work/sim.txt" 2>/dev/null || true
  exit 1
}
iks() { awk -v name="$1" '$1 == name { print $2 }' "$pki/pki/manifest.txt"; }
# Waits until the console holds the text (grep -F) $2 times, at most 60 s.
wait_console() {
  local count="${2:-1}"
  for _ in $(seq 600); do
    [[ $(grep -cF -- "$1" "$work/console.txt" 2>/dev/null || true) -ge $count ]] && return 0
    sleep 0.1
  done
  fail "the console never showed \"$1\""
}
probe() { "$wine_run" "$probe_exe" "$@"; }
shot() { bash "$wine_desktop" shot "$desktop" "$(basename "$work")-$1"; }

# The simulator signs and encrypts as the test profile of this build does.
"$sim_program" --port 0 --admin-port 0 --pki "$pki" --algorithms test > "$work/sim.txt" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "^admin on" "$work/sim.txt" 2>/dev/null && break; sleep 0.1; done
server="$(sed -n 's/^listening on //p' "$work/sim.txt")"
admin="http://$(sed -n 's/^admin on //p' "$work/sim.txt")"
[[ -n "$server" ]] || fail "the simulator did not start"
api() { curl -sf -X "$1" -H 'Content-Type: application/json' ${3:+-d "$3"} "$admin$2"; }
api POST /organisations '{"pki": "alpha"}' >/dev/null || fail "alpha is not registered"

# Beta's program folder, its settings written by tsr-tool.exe; beta's
# certificate and key in the prefix's stores.
cp "$client_exe" "$updater_exe" "$work/program/"
setting() { "$wine_run" "$tool_exe" settings set "$1" "$2" --folder "$work/program/" >/dev/null || fail "setting $1"; }
setting IDC_CERT "$(iks beta)"
setting IDC_PASS 12345678
setting IDC_EMAIL beta@example.by
setting IDC_NAME "Иванов И.И."
"$wine_run" "$stores_exe" install "$pki" || fail "the test PKI did not go into the stores"

# Starts the client; its process id is client_pid. Its log goes to the Temp
# folder of the prefix's user (Wine sets TMP).
start_client() {
  TESSARIN_SERVER="$server" "$wine_run" "$work/program/Tessarin.exe" < /dev/null > "$work/console.txt" 2>&1 &
  client_pid=$!
  pids+=($client_pid)
}
# Waits at most 10 s for the client to end; its exit code must be $1.
wait_client_end() {
  for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
  ! kill -0 "$client_pid" 2>/dev/null || fail "the client still runs"
  local code=0
  wait "$client_pid" || code=$?
  [[ "$code" == "$1" ]] || fail "the client ended with $code, not $1"
}
