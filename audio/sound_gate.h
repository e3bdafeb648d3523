#pragma once
// The routing the engine applies its presets through, with a gate for the program's end: once the end
// has begun no preset step reaches the mixer any more, so the restore is always the last write; and
// the restore runs only when the program's own presets left the operator muted.

#include <cstdint>
#include <mutex>

#include "base/clock.h"
#include "engine/audio_routing.h"

namespace halvane {

class SoundGate final : public AudioRouting {
 public:
  SoundGate(AudioRouting& routing, Clock& clock) : m_routing(routing), m_clock(clock) {}

  // The three steps, one at a time; after the end has begun each is refused (0) without a mixer write.
  int SelectRecordSource(const char* source, std::int32_t level) override;
  int ApplySpeakerMute(std::uint8_t mute) override;
  int ApplyMicPlaybackMute(std::uint8_t mute) override;

  // Begins the end (from any thread, once or more) and applies the answer preset when the last steps
  // that went through left the microphone at 0 or the speakers muted. True when it restored.
  bool RestoreAtEnd();
  // The answer preset whatever the state, without ending anything: for a start that had to terminate
  // an older copy, which may have left the operator muted.
  void Restore();

 private:
  // Held across one step, and across the whole restore, so no step slips in between.
  std::mutex m_mutex;
  AudioRouting& m_routing;
  Clock& m_clock;
  bool m_ending = false;
  bool m_micSilenced = false;
  bool m_speakersMuted = false;
};

}  // namespace halvane
