#!/usr/bin/env bash
# The Linux side of the database check between the systems
# (interop_test.cpp): sqlite3 reads the "TS.db" that the Windows client
# wrote into <folder>/windows/, then writes one into <folder>/linux/ for the
# Windows client to read. Usage: db_interop.sh <folder>
set -euo pipefail
from="$1/windows/TS.db"
to="$1/linux/TS.db"

failed=0
expect() {  # query, the output expected
  local got
  got="$(sqlite3 -bail "$from" "$1")"
  if [ "$got" != "$2" ]; then
    printf '%s\n  got:      %s\n  expected: %s\n' "$1" "$got" "$2"
    failed=1
  fi
}
expect "PRAGMA integrity_check" "ok"
expect "SELECT idm, dateIn, dateOperation, senderUNP, senderBranch, hex(senderIKS), CAST(senderName AS TEXT),
               type, status, length(message), hex(substr(message, 1, 2)) || hex(substr(message, 255)),
               hex(number), expire FROM Messages" \
  "2147483647|4102444800|0|190000001|65535|A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3|ООО «Тест»|52|0|256|0001FEFF|808182838485868788898A8B8C8D8E8F9091|77"
expect "SELECT type, I FROM Settings WHERE CAST(Name AS TEXT) = 'IDC_SERVICE'" "0|1"
expect "SELECT type, CAST(B AS TEXT) FROM Settings WHERE CAST(Name AS TEXT) = 'IDC_PATH'" '1|C:\Обмен\ООО «Тест»'
[ "$failed" -eq 0 ] || exit 1

# The client's tables as the Windows client made them; the client adds
# its indexes when it opens the file.
mkdir -p "$(dirname "$to")"
rm -f "$to" "$to-wal" "$to-shm"
sqlite3 -bail "$from" "SELECT sql || ';' FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'" |
  sqlite3 -bail "$to"
sqlite3 -bail "$to" <<'SQL'
INSERT INTO Messages (idm, dateIn, dateOperation, senderUNP, senderBranch, senderIKS, senderName, type, status,
                      message, number, expire)
VALUES (-2147483648, 4102444801, 4102444802, 191234567, 1, X'0102030405060708090A0B0C0D0E0F1011121314',
        CAST('ЗАО «Линукс»' AS BLOB), 73, 2, X'00FF0D0A1A', X'010203040506070809101112131415161712', 5),
       (7, 1700000000, 0, 191234567, 1, X'0102030405060708090A0B0C0D0E0F1011121314',
        CAST('ЗАО «Линукс»' AS BLOB), 52, 0, X'00', X'000000000000000000000000000000000000', 5);
INSERT INTO Settings (Name, type, I, B)
VALUES (CAST('IDC_SERVICE' AS BLOB), 0, 1, NULL),
       (CAST('IDC_PATH' AS BLOB), 1, 0, CAST('/home/обмен/ЗАО «Линукс»' AS BLOB));
SQL
