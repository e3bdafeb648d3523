#!/usr/bin/env bash
# scripts/demo's display path, as a user with a display runs it, on the test environment's Xvfb and
# prefix: both programs come up in the virtual desktop, Halvane attaches to the client emulator and
# shows its icon; some seconds later the script still waits and the icon is still there; the operator
# closes Halvane, and the script stops the emulator and ends with 0.
#   demo_desktop_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=${1:?source folder}
build_dir=${2:?build folder}
[ -n "${HALVANE_WINE_STATE:-}" ] && [ -f "$HALVANE_WINE_STATE/env" ] || { echo "FAIL: no Wine environment"; exit 1; }
# shellcheck disable=SC1091
. "$HALVANE_WINE_STATE/env"
out="$build_dir/demo-desktop-test.log"
HALVANE_BUILD_DIR=$build_dir HALVANE_DEMO_PREFIX=$WINEPREFIX timeout 300 "$source_dir/scripts/demo" --check 120 >"$out" 2>&1 &
demo=$!
fail() { echo "FAIL: $*"; cat "$out"; kill "$demo" 2>/dev/null; wait "$demo"; exit 1; }

deadline=$((SECONDS + 200))
until grep -q "^demo: Halvane's icon is in the notification area" "$out"; do
  kill -0 "$demo" 2>/dev/null || fail "the demo ended before Halvane's icon showed"
  [ $SECONDS -lt $deadline ] || fail "no icon in the notification area within 200 s"
  sleep 1
done
# A demo that returns at once, or a desktop that goes away, shows within these seconds.
sleep 8
kill -0 "$demo" 2>/dev/null || fail "the demo did not wait for Halvane to be closed"
grep -q "icon is not in the notification area\|desktop went away" "$out" && fail "the icon or the desktop went away"
[ -n "$(xdotool search --name '^halvane - Wine desktop$' 2>/dev/null)" ] || fail "the virtual desktop is gone"

# The operator closes Halvane (a close request, as its window's close does).
# Run inside the virtual desktop: taskkill asks only the windows of its own desktop.
timeout 60 wine explorer /desktop=halvane,800x600 taskkill /im Halvane.exe >/dev/null 2>&1
deadline=$((SECONDS + 60))
while kill -0 "$demo" 2>/dev/null; do
  [ $SECONDS -lt $deadline ] || fail "the demo still runs 60 s after Halvane was asked to close"
  sleep 1
done
wait "$demo"
status=$?
cat "$out"
[ $status -eq 0 ] || { echo "FAIL: the demo ended with status $status"; exit 1; }
grep -q "^demo: Halvane has ended" "$out" || { echo "FAIL: the demo did not see Halvane end"; exit 1; }
echo "PASS"
