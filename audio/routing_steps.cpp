#include "audio/routing_steps.h"

#include <cstdio>

#include "audio/mixer_access.h"

namespace halvane {
namespace {

// Letter case is ignored for the source names; ASCII only, so the outcome does not hang on a locale.
bool SameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a;
    char y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

class StdoutOutput final : public TextOutput {
 public:
  void Print(const char* text) override {
    std::fputs(text, stdout);
    std::fflush(stdout);
  }
};

}  // namespace

TextOutput& StandardOutput() {
  static StdoutOutput out;
  return out;
}

int RoutingSteps::SelectRecordSource(const char* source, std::int32_t level) {
  MixerAccess access(port_);
  if (!access.SetInMixerDevice(mixer::kObjectWaveIn, mixer::kWaveMapper, 0)) {
    log_.WriteLog("SetInMixerDevice failed\n");
    return 0;
  }
  if (source == nullptr) return 1;

  if (SameIgnoringCase(source, "MIC")) {
    // A missing volume control is no failure: the selection is what matters.
    if (level >= 0) access.SetMicVolume(static_cast<std::uint32_t>(level));
    if (!access.SelectListItem(MixerSide::Recording, Slot::inMicItem, 1)) {
      log_.WriteLog("\nSelect Mic failed\n");
      return 0;
    }
  } else if (SameIgnoringCase(source, "AUX")) {
    if (!access.SelectListItem(MixerSide::Recording, Slot::inAuxItem, 1)) {
      log_.WriteLog("\nSelect Aux failed\n");
      return 0;
    }
  } else if (SameIgnoringCase(source, "STEREO MIX")) {
    if (!access.SelectListItem(MixerSide::Recording, Slot::inStereoMixItem, 1)) {
      log_.WriteLog("\nSelect Stereo Mix failed\n");
      return 0;
    }
  }
  return 1;
}

int RoutingSteps::ApplySpeakerMute(std::uint8_t mute) {
  MixerAccess access(port_);
  if (!access.SetOutMixerDevice(mixer::kObjectWaveOut, mixer::kWaveMapper, 0)) {
    out_.Print("SetOutMixerDevice failed\n");
    return 0;
  }
  access.SetSpeakerMute(mute);
  return 1;
}

int RoutingSteps::ApplyMicPlaybackMute(std::uint8_t mute) {
  MixerAccess access(port_);
  if (!access.SetOutMixerDevice(mixer::kObjectWaveOut, mixer::kWaveMapper, 0)) {
    out_.Print("SetOutMixerDevice failed\n");
    return 0;
  }
  access.SetMicPlaybackMute(mute);
  return 1;
}

}  // namespace halvane
