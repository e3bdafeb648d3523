#!/usr/bin/env bash
# Applies the answer preset, then the transfer preset, then the transfer preset followed by what the
# program runs as it ends (the answer preset), through the real mixer under Wine (PulseAudio
# null sink behind it). Each run must find the playback mixer and read back the speaker mute the preset
# wrote: 0 after the answer, 1 after the transfer. The audio server's sink mute is shown alongside:
# Wine 8 keeps the mixer's mute inside the process (a session mute), so the sink itself does not move.
#   mixer_wine.sh PATH/TO/mixer_probe.exe
set -uo pipefail
probe=${1:?usage: mixer_wine.sh mixer_probe.exe}
[ -n "${HALVANE_WINE_STATE:-}" ] && [ -f "$HALVANE_WINE_STATE/env" ] || { echo "FAIL: no Wine environment" >&2; exit 1; }
# shellcheck disable=SC1091
. "$HALVANE_WINE_STATE/env"

pactl info >/dev/null 2>&1 || { echo "FAIL: no audio server in the Wine environment" >&2; exit 1; }

run() {
  local preset=$1 want=$2 out
  out=$(timeout 120 wine "$probe" "$preset" 2>&1)
  local rc=$?
  out=$(printf '%s\n' "$out" | tr -d '\r')
  printf '%s\n' "$out"
  echo "sink: $(pactl get-sink-mute nullsink 2>&1)"
  # Here-strings, not pipes: under pipefail, grep -q leaving early can fail the pipe that matched.
  if grep -q "SetOutMixerDevice failed" <<<"$out"; then
    echo "FAIL: the $preset preset found no playback mixer" >&2
    return 1
  fi
  if [ $rc -ne 0 ] || ! grep -qx "speaker mute: $want" <<<"$out"; then
    echo "FAIL: after the $preset preset the speaker mute should read $want (exit $rc)" >&2
    return 1
  fi
}

run answer 0 || exit 1
run transfer 1 || exit 1
run exit 0 || exit 1
echo "PASS"
