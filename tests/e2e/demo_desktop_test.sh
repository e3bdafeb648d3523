#!/usr/bin/env bash
# scripts/demo's desktop path, as a user with a display runs it, on the test environment's Xvfb and
# prefix: both programs come up in the virtual desktop and Halvane attaches to the client emulator;
# then the demo stops them.
#   demo_desktop_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=${1:?source folder}
build_dir=${2:?build folder}
[ -n "${HALVANE_WINE_STATE:-}" ] && [ -f "$HALVANE_WINE_STATE/env" ] || { echo "FAIL: no Wine environment"; exit 1; }
# shellcheck disable=SC1091
. "$HALVANE_WINE_STATE/env"
HALVANE_BUILD_DIR=$build_dir HALVANE_DEMO_PREFIX=$WINEPREFIX timeout 300 "$source_dir/scripts/demo" --check 120
