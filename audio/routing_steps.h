#pragma once
// The three routing steps over the sound card's mixer: each opens one side, writes, and closes it.

#include <cstdint>

#include "audio/mixer_port.h"
#include "base/log_writer.h"
#include "engine/audio_routing.h"

namespace halvane {

// Where the playback-side failure goes: standard output in the product, a recorder in tests.
class TextOutput {
 public:
  virtual ~TextOutput() = default;
  virtual void Print(const char* text) = 0;
};

// printf-style output to the process's standard output, flushed so a redirect sees it at once.
TextOutput& StandardOutput();

class RoutingSteps final : public AudioRouting {
 public:
  RoutingSteps(MixerPort& port, LogWriter& log, TextOutput& out) : port_(port), log_(log), out_(out) {}

  int SelectRecordSource(const char* source, std::int32_t level) override;
  int ApplySpeakerMute(std::uint8_t mute) override;
  int ApplyMicPlaybackMute(std::uint8_t mute) override;

 private:
  MixerPort& port_;
  LogWriter& log_;
  TextOutput& out_;
};

}  // namespace halvane
