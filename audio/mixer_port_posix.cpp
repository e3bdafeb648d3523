// Native builds have no sound-card mixer: a machine without mixers, so every routing step takes its
// failure path, as it does on Windows without an audio device.

#include "audio/mixer_port.h"

namespace halvane {
namespace {

class NoMixerPort final : public MixerPort {
 public:
  bool ProbeWaveMixer(bool, std::uint32_t, std::uint32_t*) override { return false; }
  bool GetMixerId(std::uint32_t, std::uint32_t, std::uint32_t*) override { return false; }
  std::uint32_t GetMixerCount() override { return 0; }
  bool OpenMixer(std::uint32_t, WindowHandle, MixerHandle*) override { return false; }
  void CloseMixer(MixerHandle) override {}
  bool GetDestinationCount(std::uint32_t, std::uint32_t*) override { return false; }
  bool GetDestinationLine(MixerHandle, std::uint32_t, MixerLine*) override { return false; }
  bool GetSourceLine(MixerHandle, std::uint32_t, std::uint32_t, MixerLine*) override { return false; }
  bool GetLineById(MixerHandle, std::uint32_t, MixerLine*) override { return false; }
  bool GetLineControls(MixerHandle, std::uint32_t, std::uint32_t, MixerControl*) override { return false; }
  bool GetLineControlByType(MixerHandle, std::uint32_t, std::uint32_t, MixerControl*) override { return false; }
  bool GetControlValues(MixerHandle, std::uint32_t, std::uint32_t, std::uint32_t*, std::uint32_t) override {
    return false;
  }
  bool GetListTexts(MixerHandle, std::uint32_t, std::uint32_t, MixerListText*, std::uint32_t) override {
    return false;
  }
  bool SetControlValues(MixerHandle, std::uint32_t, std::uint32_t, const std::uint32_t*, std::uint32_t) override {
    return false;
  }
};

}  // namespace

MixerPort& PlatformMixerPort() {
  static NoMixerPort port;
  return port;
}

}  // namespace halvane
