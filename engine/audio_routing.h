#pragma once
// The three mixer routing steps, as the engine uses them (each opens one mixer side, writes, closes).

#include <cstdint>

namespace halvane {

class AudioRouting {
 public:
  virtual ~AudioRouting() = default;
  // Chooses the recording source ("MIC", "AUX" or "STEREO MIX", any case); a level of 0 or more also
  // sets the microphone volume. 1 on success, 0 on failure.
  virtual int SelectRecordSource(const char* source, std::int32_t level) = 0;
  // 1 mutes, 0 unmutes the speakers destination. 1 if the playback side could be opened.
  virtual int ApplySpeakerMute(std::uint8_t mute) = 0;
  // 1 cuts the microphone out of the speakers' path, 0 lets it in. 1 if the playback side could be opened.
  virtual int ApplyMicPlaybackMute(std::uint8_t mute) = 0;
};

}  // namespace halvane
