#!/usr/bin/env bash
# Tessarin.exe under Wine against the Linux server simulator, on loopback,
# driven through its window as a user would (window_probe.exe): the
# handshake, the registration of an organisation the server does not know
# yet, the intake of a document signed with SHA-256 and encrypted with 3DES
# for the client's RSA certificate, its verification, and the delivery
# confirmation the sender asked for. Checked through the simulator's admin
# API, the client's window and console and its TS.db.
# Arguments and set-up: wine_client_setup.sh. Exit status 77 (skipped) when
# the Linux simulator is not built.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_client_setup.sh"

start_client
# Handshake and registration: the server does not know beta. The client
# starts hidden and asks only with its window shown. Under Wine it cannot
# give the key its PIN (the provider refuses PP_SIGNATURE_PIN), so it says
# the password is wrong and does not exchange by itself; the user's button
# still does, the key being usable without it.
wait_console "Автоматический обмен производиться не будет"
probe tray 0x203 >/dev/null || fail "the tray double-click did not reach the window"
probe visible 1 >/dev/null || fail "the window did not show"
probe command 100 >/dev/null
probe msgbox "Зарегистрировать" yes || fail "the client did not ask to register"
# The agreement: its box ticked enables "Продолжить".
probe dialog "Соглашение" 1001 >/dev/null || fail "the agreement was not shown"
shot agreement
probe dialog "Соглашение" 1 >/dev/null || fail "the agreement could not be accepted"
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
probe command 100 >/dev/null
wait_console "Сообщение получено"
probe rows 1 || fail "the document is not in the message list"
probe dump | grep -F "ООО Альфа | 190000001 | Электронный документ | Не подписан" ||
  fail "the message list does not show the document"

# The confirmation reached alpha (family 54) and beta's mailbox is empty.
for _ in $(seq 100); do
  api GET "/mailboxes/alpha?all=1" | grep -Eq '"type": *(54|154)\b' && break
  sleep 0.2
done
api GET "/mailboxes/alpha?all=1" | grep -Eq '"type": *(54|154)\b' || fail "no delivery confirmation reached alpha"
[[ "$(api GET /mailboxes/beta)" != *"\"idm\": $idm"* ]] || fail "the document is still in beta's mailbox"

probe command 105 >/dev/null
wait_client_end 0

# TS.db holds the document, verified, unsigned by beta (status 0).
rows="$(sqlite3 "$work/program/TS.db" "SELECT count(*) FROM Messages WHERE status = 0")"
[[ "$rows" == 1 ]] || fail "TS.db holds $rows messages of status 0, not 1"
echo "Tessarin.exe registered beta, received the 3DES document $idm and confirmed its delivery"
