#include "audio/routing_steps.h"
#include "audio/sound_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/presets.h"
#include "fake_mixer.h"
#include "recording_fakes.h"

namespace halvane::test {
namespace {

class RecordingOutput final : public TextOutput {
 public:
  void Print(const char* text) override { texts += text; }
  std::string texts;
};

class NoSleep final : public Clock {
 public:
  void Sleep(std::uint32_t) override {}
  std::uint64_t NowMs() override { return 0; }
};

// A card with every line the presets touch: microphone and aux on the recording side, wave-out and
// microphone under the speakers, each destination with a list.
void FullCard(FakeMixer& fake) {
  FakeDestination in;
  in.line = Line(1, mixer::kDstWaveIn, "Capture", {Volume(90), Mute(91), Mux(92, {11, 12, 13})});
  in.sources = {Line(11, mixer::kSrcMicrophone, "Mic", {Volume(111), Mute(112)}),
                Line(12, mixer::kSrcLine, "Aux", {Volume(121)}),
                Line(13, mixer::kSrcLine, "Stereo Mix", {Volume(131)})};
  fake.recording.destinations = {in};
  FakeDestination out;
  out.line = Line(2, mixer::kDstSpeakers, "Speakers", {Volume(80), Mute(81), MixerList(82, {21, 22})});
  out.sources = {Line(21, mixer::kSrcWaveOut, "Wave", {Volume(211), Mute(212)}),
                 Line(22, mixer::kSrcMicrophone, "Mic", {Volume(221), Mute(222)})};
  fake.playback.destinations = {out};
}

// A playback step succeeds once its mixer opens, whatever it could write; a missing playback mixer is
// told on standard output, once for each of the two playback steps.
TEST(RoutingStepsTest, PresetsWriteInOrderAndCloseEveryMixer) {
  struct Case {
    const char* what;
    void (*card)(FakeMixer&);
    void (*apply)(AudioRouting&, Clock&);
    std::vector<std::string> writes;
    const char* out;
    int opens;
    int playbackStepsDone;  // of a speaker mute and a microphone playback mute afterwards
  };
  const auto noPlayback = [](FakeMixer& f) { FullCard(f); f.playback.failOpen = true; };
  const auto barePlayback = [](FakeMixer& f) {
    FullCard(f);
    f.playback.destinations[0] = {Line(2, mixer::kDstSpeakers, "Speakers", {}), {}};
  };
  const char* const twice = "SetOutMixerDevice failed\nSetOutMixerDevice failed\n";
  const Case cases[] = {
      {"answer", FullCard, ApplyAnswerPreset,
       {"in 111 = 32768", "in 92[3] = 1 0 0", "out 81 = 0", "out 82[2] = 0 0", "out 222 = 1"}, "", 3, 2},
      {"transfer", FullCard, ApplyTransferPreset,
       {"in 111 = 0", "in 92[3] = 1 0 0", "out 81 = 1", "out 82[2] = 0 0", "out 222 = 1"}, "", 3, 2},
      {"no playback mixer", noPlayback, ApplyAnswerPreset, {"in 111 = 32768", "in 92[3] = 1 0 0"}, twice, 1, 0},
      {"no playback controls", barePlayback, ApplyAnswerPreset, {"in 111 = 32768", "in 92[3] = 1 0 0"}, "", 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMixer fake;
    c.card(fake);
    RecordingLog log;
    RecordingOutput out;
    RoutingSteps steps(fake, log, out);
    NoSleep clock;
    c.apply(steps, clock);
    EXPECT_EQ(fake.writes, c.writes);
    EXPECT_EQ(fake.opens, c.opens);
    EXPECT_EQ(fake.closes, c.opens);
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(out.texts, c.out);
    EXPECT_EQ(steps.ApplySpeakerMute(1) + steps.ApplyMicPlaybackMute(1), c.playbackStepsDone);
  }
}

TEST(RoutingStepsTest, RecordSourceOutcomes) {
  struct Case {
    const char* what;
    const char* source;
    std::int32_t level;
    void (*card)(FakeMixer&);
    int result;
    const char* log;
    std::vector<std::string> writes;
  };
  auto full = [](FakeMixer& f) { FullCard(f); };
  auto noMixer = [](FakeMixer& f) { f.probeFails = true; };
  auto noWaveIn = [](FakeMixer& f) { FullCard(f); f.recording.destinations[0].line.type = mixer::kDstSpeakers; };
  auto noList = [](FakeMixer& f) { FullCard(f); f.recording.destinations[0].line.controls.pop_back(); };
  auto noMicVolume = [](FakeMixer& f) { FullCard(f); f.recording.destinations[0].sources[0].controls = {Mute(112)}; };
  auto rejecting = [](FakeMixer& f) { FullCard(f); f.rejectWrites = true; };
  const Case cases[] = {
      {"mixed-case mic", "mIc", 32768, full, 1, "", {"in 111 = 32768", "in 92[3] = 1 0 0"}},
      {"negative level leaves the volume", "MIC", -1, full, 1, "", {"in 92[3] = 1 0 0"}},
      {"aux", "aux", 5, full, 1, "", {"in 92[3] = 0 1 0"}},
      {"stereo mix", "Stereo Mix", 5, full, 1, "", {"in 92[3] = 0 0 1"}},
      {"other name touches nothing", "LINE", 5, full, 1, "", {}},
      {"no recording mixer", "MIC", 0, noMixer, 0, "SetInMixerDevice failed\n", {}},
      {"no wave-in destination", "MIC", 0, noWaveIn, 0, "SetInMixerDevice failed\n", {}},
      {"no list", "MIC", 0, noList, 0, "\nSelect Mic failed\n", {"in 111 = 0"}},
      {"no list for aux", "AUX", 0, noList, 0, "\nSelect Aux failed\n", {}},
      {"no list for stereo mix", "stereo mix", 0, noList, 0, "\nSelect Stereo Mix failed\n", {}},
      {"no microphone volume", "MIC", 32768, noMicVolume, 1, "", {"in 92[3] = 1 0 0"}},
      {"write rejected", "MIC", 0, rejecting, 0, "\nSelect Mic failed\n", {"in 111 = 0", "in 92[3] = 1 0 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMixer fake;
    c.card(fake);
    RecordingLog log;
    RecordingOutput out;
    RoutingSteps steps(fake, log, out);
    EXPECT_EQ(steps.SelectRecordSource(c.source, c.level), c.result);
    EXPECT_EQ(log.Text(), c.log);
    EXPECT_EQ(out.texts, "");
    EXPECT_EQ(fake.writes, c.writes);
    EXPECT_EQ(fake.opens, fake.closes);
  }
}

// Every step that reaches the mixer, in order; safe from two threads.
class StepRecorder final : public AudioRouting {
 public:
  int SelectRecordSource(const char* source, std::int32_t level) override {
    return Add(std::string("record ") + source + " " + std::to_string(level));
  }
  int ApplySpeakerMute(std::uint8_t mute) override { return Add("speakers " + std::to_string(mute)); }
  int ApplyMicPlaybackMute(std::uint8_t mute) override { return Add("mic playback " + std::to_string(mute)); }
  std::vector<std::string> Steps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return steps_;
  }

 private:
  int Add(const std::string& step) {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(step);
    return 1;
  }
  std::mutex mutex_;
  std::vector<std::string> steps_;
};

const std::vector<std::string> kAnswerSteps = {"record MIC 32768", "speakers 0", "mic playback 1"};

TEST(SoundGate, RestoresOnlyWhenHalvaneLeftTheOperatorMutedAndAsTheLastWrite) {
  NoSleep clock;
  {
    StepRecorder mixer;
    SoundGate gate(mixer, clock);
    EXPECT_FALSE(gate.RestoreAtEnd()) << "no preset ever applied: the operator's own settings stay";
    EXPECT_TRUE(mixer.Steps().empty());
  }
  {
    StepRecorder mixer;
    SoundGate gate(mixer, clock);
    ApplyTransferPreset(gate, clock);
    ApplyAnswerPreset(gate, clock);
    EXPECT_FALSE(gate.RestoreAtEnd()) << "the last preset was the answer preset";
    EXPECT_EQ(mixer.Steps().size(), 6u);
  }
  {
    StepRecorder mixer;
    SoundGate gate(mixer, clock);
    gate.ApplySpeakerMute(1);
    EXPECT_TRUE(gate.RestoreAtEnd()) << "the speakers alone were left muted";
  }
  // The engine applies the transfer preset over and over on its thread while the end begins on
  // another: the answer preset is the last thing the mixer sees, and nothing follows it.
  StepRecorder mixer;
  SoundGate gate(mixer, clock);
  ApplyTransferPreset(gate, clock);
  std::atomic<bool> stop{false};
  std::thread engine([&] {
    while (!stop.load()) ApplyTransferPreset(gate, clock);
  });
  EXPECT_TRUE(gate.RestoreAtEnd());
  const std::size_t afterRestore = mixer.Steps().size();
  for (int i = 0; i < 100; ++i) ApplyTransferPreset(gate, clock);
  stop = true;
  engine.join();
  const std::vector<std::string> steps = mixer.Steps();
  ASSERT_EQ(steps.size(), afterRestore);
  EXPECT_EQ(std::vector<std::string>(steps.end() - 3, steps.end()), kAnswerSteps);
  EXPECT_FALSE(gate.RestoreAtEnd()) << "once";
}

TEST(SoundGate, RestoreAfterATerminatedCopyAppliesTheAnswerPresetOnce) {
  NoSleep clock;
  StepRecorder mixer;
  SoundGate gate(mixer, clock);
  gate.Restore();
  EXPECT_EQ(mixer.Steps(), kAnswerSteps);
  EXPECT_FALSE(gate.RestoreAtEnd()) << "the restore left the operator unmuted";
  gate.Restore();
  EXPECT_EQ(mixer.Steps(), kAnswerSteps) << "no restore once the end has begun";
}

}  // namespace
}  // namespace halvane::test
