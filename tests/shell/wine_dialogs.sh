#!/usr/bin/env bash
# The dialogs as windows on the Wine desktop of the fixture WineDesktop:
# runs dialog_windows_test.exe there and takes a screenshot of each dialog
# when the test asks for one (it writes NAME.ready and waits for NAME.shot).
# The screenshots are DESKTOP/screenshots/dialog-NAME.png.
# The certificate choice lists the RSA test PKI, which the test puts into
# the stores of the desktop's prefix and takes out again.
# Usage: wine_dialogs.sh DESKTOP WINE_DESKTOP_SH WINE_RUN TEST_EXE TEST_PKI
set -euo pipefail
desktop="$1" desktop_sh="$2" wine_run="$3" test_exe="$4" pki="$5"
eval "$(bash "$desktop_sh" env "$desktop")"
shots="$desktop/dialog-shots"
rm -rf "$shots"
mkdir -p "$shots"
TESSARIN_DIALOG_SHOTS="Z:$shots" TESSARIN_TEST_PKI="$pki" "$wine_run" "$test_exe" </dev/null &
test_pid=$!
while kill -0 "$test_pid" 2>/dev/null; do
  for ready in "$shots"/*.ready; do
    [[ -e "$ready" ]] || continue
    name="$(basename "$ready" .ready)"
    [[ -e "$shots/$name.shot" ]] && continue
    # The dialog has just been shown: let it paint.
    sleep 0.5
    bash "$desktop_sh" shot "$desktop" "dialog-$name"
    touch "$shots/$name.shot"
  done
  sleep 0.1
done
wait "$test_pid"
