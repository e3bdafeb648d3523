// Applies a routing preset to the machine's real mixers and reports what the speakers' mute reads
// afterwards. Usage: mixer_probe answer|transfer|exit ("exit": the transfer preset, then what the
// program runs as it ends, which must read as the answer preset). The mute is first set the other way, so the read-back
// shows the preset's own write. Exit code 0 when the mute reads what the preset wrote (0 after the
// answer preset, 1 after the transfer preset), 1 otherwise.

#include <cstdio>
#include <cstring>

#include "app/link_wiring_win32.h"
#include "audio/mixer_access.h"
#include "audio/mixer_port.h"
#include "audio/routing_steps.h"
#include "audio/sound_gate.h"
#include "base/clock.h"
#include "base/log_writer.h"
#include "engine/presets.h"

namespace {

using namespace halvane;

// Session-log texts of the steps, shown on standard output with a prefix.
class PrintedLog final : public LogWriter {
 public:
  void WriteLog(const char* text) override { std::printf("log: %s", text); }
};

// Reads the mute of the speakers destination behind the wave mapper, as the playback step finds it.
bool ReadSpeakerMute(MixerPort& port, std::uint32_t* mute) {
  std::uint32_t mixerId = 0;
  if (!port.ProbeWaveMixer(false, mixer::kWaveMapper, &mixerId)) return false;
  MixerHandle handle = 0;
  if (!port.OpenMixer(mixerId, 0, &handle)) return false;
  bool found = false;
  std::uint32_t count = 0;
  if (port.GetDestinationCount(mixerId, &count)) {
    for (std::uint32_t d = 0; d < count && !found; ++d) {
      MixerLine line;
      if (!port.GetDestinationLine(handle, d, &line) || line.componentType != mixer::kDstSpeakers) continue;
      MixerControl control;
      std::uint32_t value = 0;
      if (port.GetLineControlByType(handle, line.lineId, mixer::kTypeMute, &control) &&
          port.GetControlValues(handle, control.controlId, 0, &value, 1)) {
        std::printf("speakers line %u \"%s\": mute control %u\n", line.lineId, line.name, control.controlId);
        *mute = value;
        found = true;
      }
    }
  }
  port.CloseMixer(handle);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  const bool exit = argc == 2 && std::strcmp(argv[1], "exit") == 0;
  if (argc != 2 || (std::strcmp(argv[1], "answer") != 0 && std::strcmp(argv[1], "transfer") != 0 && !exit)) {
    std::fprintf(stderr, "usage: mixer_probe answer|transfer|exit\n");
    return 2;
  }
  MixerPort& port = PlatformMixerPort();
  std::printf("mixers: %u\n", port.GetMixerCount());

  const bool answer = std::strcmp(argv[1], "answer") == 0 || exit;
  const std::uint32_t expected = answer ? 0 : 1;
  {
    MixerAccess access(port);
    const bool opened = access.SetOutMixerDevice(mixer::kObjectWaveOut, mixer::kWaveMapper, 0);
    const bool preset = opened && access.SetSpeakerMute(1 - expected);
    std::printf("speaker mute set to %u first: %s\n", 1 - expected, preset ? "yes" : "no");
  }

  PrintedLog log;
  RoutingSteps steps(port, log, StandardOutput());
  if (exit) {
    // The program's own end: every preset through the gate, then the restore.
    SoundGate gate(steps, SystemClock());
    ApplyTransferPreset(gate, SystemClock());
    gate.RestoreAtEnd();
  } else if (answer) {
    ApplyAnswerPreset(steps, SystemClock());
  } else {
    ApplyTransferPreset(steps, SystemClock());
  }

  std::uint32_t mute = 0;
  if (!ReadSpeakerMute(port, &mute)) {
    std::printf("speaker mute: unreadable\n");
    return 1;
  }
  std::printf("speaker mute: %u\n", mute);
  std::fflush(stdout);
  return mute == expected ? 0 : 1;
}
