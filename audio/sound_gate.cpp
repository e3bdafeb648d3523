#include "audio/sound_gate.h"

#include "engine/presets.h"

namespace halvane {

int SoundGate::SelectRecordSource(const char* source, std::int32_t level) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ending) return 0;
  // A negative level leaves the microphone as it is.
  if (level >= 0) m_micSilenced = level == 0;
  return m_routing.SelectRecordSource(source, level);
}

int SoundGate::ApplySpeakerMute(std::uint8_t mute) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ending) return 0;
  m_speakersMuted = mute != 0;
  return m_routing.ApplySpeakerMute(mute);
}

int SoundGate::ApplyMicPlaybackMute(std::uint8_t mute) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ending) return 0;
  return m_routing.ApplyMicPlaybackMute(mute);
}

bool SoundGate::RestoreAtEnd() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ending) return false;
  m_ending = true;
  // The operator's own mixer settings stay untouched when Halvane never muted them.
  if (!m_micSilenced && !m_speakersMuted) return false;
  ApplyAnswerPreset(m_routing, m_clock);
  m_micSilenced = m_speakersMuted = false;
  return true;
}

void SoundGate::Restore() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ending) return;
  ApplyAnswerPreset(m_routing, m_clock);
  m_micSilenced = m_speakersMuted = false;
}

}  // namespace halvane
