#!/usr/bin/env bash
# Tessarin.exe's window under Wine, looked at from outside by
# window_probe.exe, with a screenshot of the desktop at each step: it starts
# hidden in the tray with the balloon of its warning; a second start shows
# the first client's window and ends; the window's title, its five columns
# and their widths, a message list of 100 000 stored documents, the status
# lines of an exchange started with the button against the Linux
# simulator, the double-click on a row, and the menu's exit.
# Arguments and set-up: wine_client_setup.sh. Exit status 77 (skipped) when
# the Linux simulator is not built.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine_client_setup.sh"

# The server knows beta; TS.db holds 100 000 documents from alpha, written
# straight into the table the client makes.
api POST /organisations '{"pki": "beta"}' >/dev/null || fail "beta is not registered"
sqlite3 -bail "$work/program/TS.db" <<'SQL'
CREATE TABLE IF NOT EXISTS Messages (id INTEGER PRIMARY KEY AUTOINCREMENT, idm INTEGER, dateIn INTEGER, dateOperation INTEGER,
  senderUNP INTEGER, senderBranch INTEGER, senderIKS BLOB, senderName BLOB, type INTEGER, status INTEGER,
  message BLOB, number BLOB, expire INTEGER, TempSD BLOB, TempDFS BLOB);
WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x < 99999)
INSERT INTO Messages (idm, dateIn, senderUNP, senderBranch, senderName, type, status, message)
SELECT 5000000 + x, 1700000000 + x, 190000001, 0, CAST('ООО Альфа' AS BLOB), 52, 0, CAST('<html>Счёт</html>' AS BLOB)
FROM n;
SQL

start_client
# Hidden in the tray: the key's PIN is refused under Wine, which the
# balloon says.
wait_console "Автоматический обмен производиться не будет"
probe visible 0 >/dev/null || fail "the window does not start hidden"
# Wine's tray shows the balloon some seconds after it was asked for.
probe balloon || fail "the warning's balloon did not show"
shot 1-hidden-with-balloon

# A second start hands over to the first and ends with 0.
TESSARIN_SERVER="$server" "$wine_run" "$work/program/Tessarin.exe" </dev/null >"$work/second.txt" 2>&1 ||
  fail "the second start ended with $?"
probe visible 1 >/dev/null || fail "the second start did not show the first client's window"
probe rows 100000 || fail "the message list does not hold the 100 000 documents"
shot 2-shown-by-second-start

probe dump > "$work/dump.txt"
cat "$work/dump.txt"
expect() { grep -qxF -- "$1" "$work/dump.txt" || fail "the window does not show \"$1\""; }
[[ "$(sed -n 's/^title=//p' "$work/dump.txt")" != Tessarin ]] || fail "the title is not the certificate's name"
expect "column=Получено 96"
expect "column=Отправитель 144"
expect "column=УНП 69"
expect "column=Вид сообщения 96"
expect "column=Статус 85"
[[ $(grep -c '^column=' "$work/dump.txt") == 5 ]] || fail "the list has not five columns"
expect "button=Получить сообщения visible=1 enabled=1"
grep -qE '^row 99999=.* \| ООО Альфа \| 190000001 \| .+ \| .+$' "$work/dump.txt" || fail "the last row is not alpha's document"

# The button: the status lines of the exchange (the session fails under
# Wine, which the lines say).
probe command 100 >/dev/null
for _ in $(seq 300); do
  probe dump > "$work/dump.txt"
  grep -q '^status=[0-9][0-9]:[0-9][0-9]:[0-9][0-9] ' "$work/dump.txt" && break
  sleep 0.2
done
grep '^status=' "$work/dump.txt" || fail "the exchange showed no status line"
shot 3-status-lines-after-the-button

# A double-click on the first row opens its message.
probe dblclick 0 >/dev/null
probe msgbox "ООО Альфа" none || fail "the double-click opened no message"
shot 4-message-of-the-first-row
probe dialog "Сообщение" 2 >/dev/null || fail "the message dialog did not close"

# The menu's commands: About, then the exit.
probe command 104 >/dev/null
probe msgbox "3.14.9" ok >/dev/null || fail "the menu's About showed nothing"
probe command 105 >/dev/null
wait_client_end 0
echo "the window, its list, status lines, second start and row double-click are as expected"
