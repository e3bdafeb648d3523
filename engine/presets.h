#pragma once
// The two fixed sequences of routing steps the engine applies: a 100 ms pause, then three steps in order.
// Results are not examined: every step runs whatever the one before it returned.

#include "base/clock.h"
#include "engine/audio_routing.h"

namespace halvane {

// After an answer and when a cycle finishes: microphone selected at 32768, speakers on, no local echo.
inline void ApplyAnswerPreset(AudioRouting& routing, Clock& clock) {
  clock.Sleep(100);
  routing.SelectRecordSource("MIC", 32768);
  routing.ApplySpeakerMute(0);
  routing.ApplyMicPlaybackMute(1);
}

// While the two parties are joined: microphone level 0, speakers muted, no local echo.
inline void ApplyTransferPreset(AudioRouting& routing, Clock& clock) {
  clock.Sleep(100);
  routing.SelectRecordSource("MIC", 0);
  routing.ApplySpeakerMute(1);
  routing.ApplyMicPlaybackMute(1);
}

}  // namespace halvane
