#!/usr/bin/env bash
# Tessarin.exe under Wine against the Linux server simulator, on loopback:
# the handshake, the registration of an organisation the server does not
# know yet, the intake of a document signed with SHA-256 and encrypted with
# 3DES for the client's RSA certificate, its verification, and the delivery
# confirmation the sender asked for. Checked through the simulator's admin
# API, the client's console and its TS.db.
# Usage: wine_client_sim.sh AIS_SIM PKI WORK TESSARIN_EXE TSR_UPDATE_EXE TSR_TOOL_EXE PKI_STORES_EXE WINE_RUN
# Exit status 77 (skipped) when the Linux simulator is not built.
set -euo pipefail
sim_program="$1" pki="$2" work="$3" client_exe="$4" updater_exe="$5" tool_exe="$6" stores_exe="$7" wine_run="$8"

if [[ ! -x "$sim_program" ]]; then
  echo "skipped: the Linux server simulator $sim_program is not built (scripts/test builds it first;" \
       "by hand: scripts/build release --target ais-sim)"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work/program"
pids=()
cleanup() {
  [[ -z "${console:-}" ]] || exec {console}>&-
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  "$wine_run" "$stores_exe" remove "$pki" >/dev/null 2>&1 || true
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
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
type_in() { echo "$1" >&"$console"; }

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

mkfifo "$work/console.in"
# Its log goes to the Temp folder of the prefix's user (Wine sets TMP).
TESSARIN_SERVER="$server" \
  "$wine_run" "$work/program/Tessarin.exe" < "$work/console.in" > "$work/console.txt" 2>&1 &
pids+=($!)
exec {console}>"$work/console.in"

# Handshake and registration: the server does not know beta. The client
# starts hidden and asks only with its window shown. Under Wine it cannot
# give the key its PIN (the provider refuses PP_SIGNATURE_PIN), so it says
# the password is wrong and does not exchange by itself; the user's "get"
# still does, the key being usable without it.
wait_console "Автоматический обмен производиться не будет"
type_in show
type_in get
wait_console "Зарегистрировать?"
type_in yes
wait_console "=== Соглашение ==="
type_in agree
wait_console "Регистрация прошла успешно"
api GET /organisations/beta >/dev/null || fail "the server does not know beta after the registration"
echo "handshake and registration done: the server knows beta"
# The session key comes in a 3DES envelope from the simulator. Wine 8's
# crypt32 decrypts such an envelope of OpenSSL with the first 8 bytes wrong
# (it does not take the IV of the algorithm's parameters; the blocks after
# the first are right), so the key does not match the server's proof and no
# session opens. What follows then cannot run under Wine; the test says so
# and is skipped. Windows itself takes the IV.
for _ in $(seq 600); do
  grep -qF "Соединение с АИС успешно установлено." "$work/console.txt" && break
  if grep -qF "Ошибка проверки подписи АИС" "$work/console.txt"; then
    echo "skipped after the registration: the session key from the simulator's 3DES envelope does not match" \
         "the server's proof (\"Ошибка проверки подписи АИС\"): Wine's crypt32 ignores the IV of a 3DES envelope," \
         "so the intake of a 3DES document, its verification and the delivery confirmation need Windows"
    exit 77
  fi
  sleep 0.1
done
wait_console "Соединение с АИС успешно установлено."

# A document from alpha, signed with SHA-256 and encrypted with 3DES for
# beta's RSA certificate, with a delivery confirmation asked for.
sent="$(api POST /messages '{"from": "alpha", "to": "beta", "type": 52, "confirm": true, "content": "<html><body>Счёт № 31 на 3DES</body></html>"}')" ||
  fail "the document was not put in"
idm="$(sed -n 's/.*"idm": *\([0-9]*\).*/\1/p' <<< "$sent")"
type_in get
wait_console "Сообщение получено"
type_in list
wait_console "ООО Альфа | 190000001 | Электронный документ | Не подписан"

# The confirmation reached alpha (family 54) and beta's mailbox is empty.
for _ in $(seq 100); do
  api GET "/mailboxes/alpha?all=1" | grep -Eq '"type": *(54|154)\b' && break
  sleep 0.2
done
api GET "/mailboxes/alpha?all=1" | grep -Eq '"type": *(54|154)\b' || fail "no delivery confirmation reached alpha"
[[ "$(api GET /mailboxes/beta)" != *"\"idm\": $idm"* ]] || fail "the document is still in beta's mailbox"

type_in exit
for _ in $(seq 100); do kill -0 "${pids[1]}" 2>/dev/null || break; sleep 0.1; done

# TS.db holds the document, verified, unsigned by beta (status 0).
rows="$(sqlite3 "$work/program/TS.db" "SELECT count(*) FROM Messages WHERE status = 0")"
[[ "$rows" == 1 ]] || fail "TS.db holds $rows messages of status 0, not 1"
echo "Tessarin.exe registered beta, received the 3DES document $idm and confirmed its delivery"
