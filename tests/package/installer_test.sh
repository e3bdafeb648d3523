#!/usr/bin/env bash
# The packages under Wine: the ZIP holds exactly the program, the client emulator, README and licence;
# the installer installs the emulator as a component with its own Start-menu entry, and
# for the current user without asking, the program starts from its Start-menu entry in the install folder
# and attaches to the client emulator, and the uninstaller removes what was installed (keeping the user's
# session logs unless told to remove them).
#   installer_test.sh BUILD_DIR CLIENTSIM_EXE
set -uo pipefail
build=${1:?build folder}
clientsim=${2:?clientsim.exe}
[ -n "${HALVANE_WINE_STATE:-}" ] && [ -f "$HALVANE_WINE_STATE/env" ] || { echo "no Wine environment"; exit 1; }
# shellcheck disable=SC1091
. "$HALVANE_WINE_STATE/env"

work=$(mktemp -d /tmp/halvane-package.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  timeout 20 wine taskkill /f /im Halvane.exe >/dev/null 2>&1
  timeout 20 wine taskkill /f /im clientsim.exe >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# Polls every half second until the condition holds or the deadline passes; says what it waited for.
wait_for() {  # wait_for WHAT SECONDS COMMAND...
  local what=$1 seconds=$2
  local deadline=$((SECONDS + seconds))
  shift 2
  until "$@"; do
    [ $SECONDS -ge $deadline ] && { echo "FAILED: gave up after $seconds s waiting for $what"; failures=$((failures + 1)); return 1; }
    sleep 0.5
  done
  echo "ok: $what"
}

echo "--- making the packages"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
zip=$(ls "$work"/out/Halvane-*-win64.zip)
setup=$(ls "$work"/out/Halvane-*-win64.exe)
check "the ZIP holds Halvane.exe, clientsim.exe, README.md and LICENSE only" \
  test "$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')" = "Halvane.exe LICENSE README.md clientsim.exe "

localappdata=$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')
appdata=$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
inst=$(winepath -u "$localappdata\\Programs\\Halvane" 2>/dev/null)
link=$(winepath -u "$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Halvane.lnk" 2>/dev/null)
emulator_link=$(winepath -u "$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Halvane client emulator.lnk" 2>/dev/null)
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Halvane'
registered() { wine reg query "$key" /v UninstallString >/dev/null 2>&1; }
# The uninstaller copies itself to a temporary folder and returns at once: its work is done when the
# registration is gone.
unregistered() { ! registered; }

echo "--- silent install with a session log, into $inst"
timeout 120 wine "$setup" /S /LOG
for f in Halvane.exe clientsim.exe README.md LICENSE uninstall.exe; do check "installed $f" test -f "$inst/$f"; done
check "the log folder was made because it was asked for" test -d "$inst/log"
check "the Start-menu entry exists" test -f "$link"
check "the client emulator's Start-menu entry exists" test -f "$emulator_link"
check "the installed emulator is this build's" cmp -s "$clientsim" "$inst/clientsim.exe"
check "the uninstaller is registered for the current user" registered

echo "--- starting Halvane from its Start-menu entry, with the client emulator running"
# The emulator as installed, so the installed copy is the one shown to work.
(cd "$work" && exec wine "$inst/clientsim.exe") >"$work/clientsim.log" 2>&1 &
pids+=($!)
(cd "$work" && exec wine start /wait "$(winepath -w "$link")") >"$work/halvane.log" 2>&1 &
pids+=($!)
session_log() { compgen -G "$inst/log/log(*).txt" >/dev/null; }
wait_for "a session log in the install folder's log folder (Halvane attached and learnt the user)" 90 session_log
session_log && echo "    $(ls "$inst"/log)"
timeout 20 wine taskkill /f /im Halvane.exe >/dev/null 2>&1
timeout 20 wine taskkill /f /im clientsim.exe >/dev/null 2>&1

echo "--- silent uninstall keeps the session logs"
timeout 60 wine "$inst/uninstall.exe" /S
wait_for "the uninstaller to finish" 60 unregistered
for f in Halvane.exe clientsim.exe README.md LICENSE uninstall.exe; do check "removed $f" test ! -e "$inst/$f"; done
check "removed the Start-menu entries" test ! -e "$link" -a ! -e "$emulator_link"
check "kept the user's session logs" session_log

echo "--- reinstall without a log, then uninstall removing the logs"
timeout 120 wine "$setup" /S
check "installed again" test -f "$inst/Halvane.exe"
timeout 60 wine "$inst/uninstall.exe" /S /REMOVELOGS
wait_for "the uninstaller to finish" 60 unregistered
check "the install folder is gone entirely" test ! -e "$inst"

echo "--- $failures failure(s)"
[ "$failures" -eq 0 ]
