#include "audio/mixer_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_mixer.h"

namespace halvane::test {
namespace {

constexpr std::uint32_t kDestLine = 1;

// A recording mixer with one wave-in destination holding the given sources and destination controls.
void SetRecording(FakeMixer& fake, std::vector<FakeLine> sources, std::vector<FakeControl> controls) {
  fake.recording.destinations = {{Line(kDestLine, mixer::kDstWaveIn, "Capture", std::move(controls)), std::move(sources)}};
}
void SetPlayback(FakeMixer& fake, std::vector<FakeLine> sources, std::vector<FakeControl> controls) {
  fake.playback.destinations = {{Line(kDestLine, mixer::kDstSpeakers, "Out", std::move(controls)), std::move(sources)}};
}

bool OpenRecording(MixerAccess& access) { return access.SetInMixerDevice(mixer::kObjectWaveIn, mixer::kWaveMapper, 0); }
bool OpenPlayback(MixerAccess& access) { return access.SetOutMixerDevice(mixer::kObjectWaveOut, mixer::kWaveMapper, 0); }

// Which control lands in which slot as a recording mixer opens: type rules before name rules (volume
// rows keep the source's line, mute rows the destination's), the first microphone's volume but the last
// one's item, a line 0 standing in for a missing microphone, a second list filling only slots still
// empty, a failed capture not offered to later rows, and unreadable destination controls (the side
// still opens, with no list and no master slot).
TEST(MixerAccessTest, RecordingSlotsAsTheRulesFillThem) {
  using Field = std::uint32_t ControlSlot::*;
  const Field id = &ControlSlot::controlId, item = &ControlSlot::itemIndex, valid = &ControlSlot::valid;
  const Field line = &ControlSlot::lineId, single = &ControlSlot::singleSelect;
  struct Want {
    Slot slot;
    Field field;
    std::uint32_t value;
  };
  struct Case {
    const char* what;
    std::vector<FakeLine> sources;
    std::vector<FakeControl> destination;
    std::vector<Want> want;
    bool failDestinationControls = false;
  };
  FakeControl broken = Mute(101);
  broken.failRead = true;
  const Case cases[] = {
      {"type before name",
       {Line(10, mixer::kSrcMicrophone, "Aux", {Volume(101), Mute(102)}), Line(20, mixer::kSrcLine, "Aux", {Volume(201)})},
       {Mux(300, {20, 10})},
       {{Slot::inMicVolume, id, 101}, {Slot::inMicVolume, line, 10}, {Slot::inMicMute, line, kDestLine},
        {Slot::inMicItem, item, 1}, {Slot::inAuxItem, item, 0}, {Slot::inAuxItem, single, 1}}},
      {"two microphones",
       {Line(10, mixer::kSrcMicrophone, "Mic 1", {Volume(101)}), Line(11, mixer::kSrcMicrophone, "Mic 2", {Volume(111)})},
       {Mux(300, {10, 11})},
       {{Slot::inMicVolume, id, 101}, {Slot::inMicItem, item, 1}}},
      {"line 0 stands in", {Line(0, mixer::kSrcLine, "Stereo Mix", {Volume(101)})}, {Mux(300, {5, 0})},
       {{Slot::inMicVolume, id, 101}, {Slot::inStereoMixVolume, valid, 0}, {Slot::inMicItem, item, 1},
        {Slot::inStereoMixItem, valid, 0}}},
      {"line 0 item beside a known microphone", {Line(10, mixer::kSrcMicrophone, "Mic", {Volume(101)})},
       {Mux(300, {0, 10})},
       {{Slot::inLineZeroItem, item, 0}, {Slot::inLineZeroItem, valid, 1}, {Slot::inMicItem, item, 1},
        {Slot::inStereoMixItem, valid, 0}, {Slot::inAuxItem, valid, 0}}},
      {"a second list",
       {Line(10, mixer::kSrcMicrophone, "Mic", {Volume(101)}), Line(20, mixer::kSrcLine, "Aux", {Volume(201)})},
       {Mux(300, {10}), MixerList(301, {20, 10})},
       {{Slot::inMicItem, id, 300}, {Slot::inMicItem, single, 1}, {Slot::inAuxItem, id, 301}, {Slot::inAuxItem, single, 0}}},
      // Microphone on line 0: the mute matches the microphone row first, and its failure ends the offer.
      {"a failed capture", {Line(0, mixer::kSrcMicrophone, "Mic", {broken, Volume(102)})}, {},
       {{Slot::inMicMute, valid, 0}, {Slot::inLineZeroMute, valid, 0}, {Slot::inMicVolume, id, 102}}},
      {"unreadable destination controls", {Line(10, mixer::kSrcMicrophone, "Mic", {Volume(101)})},
       {Volume(90), Mux(300, {10})},
       {{Slot::inMasterVolume, valid, 0}, {Slot::inMicItem, valid, 0}, {Slot::inMicVolume, valid, 1}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMixer fake;
    SetRecording(fake, c.sources, c.destination);
    fake.recording.destinations[0].line.failControls = c.failDestinationControls;
    MixerAccess access(fake);
    ASSERT_TRUE(OpenRecording(access));
    for (const Want& w : c.want) EXPECT_EQ(access.slot(w.slot).*w.field, w.value) << "slot " << static_cast<int>(w.slot);
  }
}

// One recording source, line 7, with a volume control, and a list naming that line: which role it got
// shows in which item slot the list entry lands; an unclassified source is never asked for controls.
TEST(MixerAccessTest, RecordingSourcesAreClassifiedByTypeThenExactShortName) {
  enum Role { kNone, kMic, kStereo, kAux };
  struct Case {
    std::uint32_t type;
    std::string name;
    Role role;
  };
  const std::string big5("\xC1\x6E\xAA\x69\xBF\xE9\xA5\x58\xB2\x56\xAD\xB5\xBE\xB9");
  const Case cases[] = {
      {mixer::kSrcMicrophone, "Stereo Mix", kMic},
      {mixer::kSrcWaveOut, "Aux", kStereo},
      {mixer::kSrcLine, "Stereo Mix", kStereo},
      {mixer::kSrcLine, "Stereo Mixer", kStereo},
      {mixer::kSrcAuxiliary, big5, kStereo},
      {mixer::kSrcLine, "Aux", kAux},
      {mixer::kSrcLine, "stereo mix", kNone},
      {mixer::kSrcLine, "STEREO MIX", kNone},
      {mixer::kSrcLine, "Stereo Mix ", kNone},
      {mixer::kSrcLine, "aux", kNone},
      {mixer::kSrcLine, big5.substr(0, 13), kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMixer fake;
    SetRecording(fake, {Line(7, c.type, c.name, {Volume(71)})}, {Mux(300, {7})});
    MixerAccess access(fake);
    ASSERT_TRUE(OpenRecording(access));
    EXPECT_EQ(access.slot(Slot::inMicItem).valid, c.role == kMic ? 1u : 0u);
    EXPECT_EQ(access.slot(Slot::inStereoMixItem).valid, c.role == kStereo ? 1u : 0u);
    EXPECT_EQ(access.slot(Slot::inAuxItem).valid, c.role == kAux ? 1u : 0u);
    EXPECT_EQ(access.slot(Slot::inMicVolume).valid, c.role == kMic ? 1u : 0u);
    EXPECT_EQ(access.slot(Slot::inStereoMixVolume).valid, c.role == kStereo ? 1u : 0u);
    const bool linesRead = std::find(fake.controlReads.begin(), fake.controlReads.end(), 7u) != fake.controlReads.end();
    EXPECT_EQ(linesRead, c.role != kNone);
  }
}

TEST(MixerAccessTest, DestinationSearchStopsAtAFailedQueryOrUnreadableCapabilities) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> types;  // 0 = the query fails
    bool opens;
    std::vector<std::uint32_t> queried;
    bool failCaps = false;
  };
  const Case cases[] = {
      {"found before the failure", {mixer::kDstSpeakers, 0, mixer::kDstSpeakers}, true, {0}},
      {"only after the failure", {mixer::kDstWaveIn, 0, mixer::kDstSpeakers}, false, {0, 1}},
      {"second of two", {mixer::kDstWaveIn, mixer::kDstSpeakers}, true, {0, 1}},
      {"none", {}, false, {}},
      {"unreadable capabilities", {mixer::kDstSpeakers}, false, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMixer fake;
    for (std::uint32_t i = 0; i < c.types.size(); ++i) {
      FakeDestination d;
      d.line = Line(kDestLine + i, c.types[i], "D", {Mute(50 + i)});
      d.failQuery = c.types[i] == 0;
      fake.playback.destinations.push_back(d);
    }
    fake.playback.failCaps = c.failCaps;
    MixerAccess access(fake);
    EXPECT_EQ(OpenPlayback(access), c.opens);
    EXPECT_EQ(access.IsOpen(MixerSide::Playback), c.opens);
    EXPECT_EQ(fake.destinationQueries, c.queried);
    EXPECT_EQ(fake.opens, fake.closes + (c.opens ? 1 : 0));
  }
}

TEST(MixerAccessTest, ListWritesFollowTheListKind) {
  struct Case {
    const char* what;
    std::uint32_t type;
    bool failRead;
    std::vector<std::uint32_t> current;
    const char* written;
    bool readsFirst;
  };
  const Case cases[] = {
      {"MUX clears the others", mixer::kTypeMux, false, {0, 1, 0}, "in 300[3] = 1 0 0", false},
      {"MIXER keeps the others", mixer::kTypeMixer, false, {0, 1, 1}, "in 300[3] = 1 1 1", true},
      {"MIXER after a failed read", mixer::kTypeMixer, true, {0, 1, 1}, "in 300[3] = 1 0 0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMixer fake;
    FakeControl list = List(300, c.type, {10, 20, 30});
    list.values = c.current;
    SetRecording(fake, {Line(10, mixer::kSrcMicrophone, "Mic", {Volume(101)})}, {list});
    MixerAccess access(fake);
    ASSERT_TRUE(OpenRecording(access));
    fake.recording.destinations[0].line.controls[0].failRead = c.failRead;
    fake.valueReads.clear();

    EXPECT_TRUE(access.SelectListItem(MixerSide::Recording, Slot::inMicItem, 1));
    EXPECT_EQ(fake.writes, std::vector<std::string>{c.written});
    EXPECT_EQ(!fake.valueReads.empty(), c.readsFirst);
  }
}

// Only a write through a filled slot of an open side reaches the platform; a volume goes unscaled.
TEST(MixerAccessTest, WritesThroughAClosedSideOrAnEmptySlotMakeNoPlatformCall) {
  FakeMixer fake;
  SetRecording(fake, {Line(10, mixer::kSrcMicrophone, "Mic", {Volume(101)})}, {Mux(300, {10})});
  SetPlayback(fake, {}, {});
  MixerAccess access(fake);
  const auto calls = [&fake] {
    return fake.opens + fake.writes.size() + fake.valueReads.size() + fake.controlReads.size() +
           fake.destinationQueries.size();
  };
  EXPECT_FALSE(access.SetMicVolume(5));  // never opened
  EXPECT_EQ(calls(), 0u);

  ASSERT_TRUE(OpenRecording(access));
  ASSERT_TRUE(OpenPlayback(access));
  auto before = calls();
  EXPECT_FALSE(access.SetSpeakerMute(1));  // playback open, slot empty
  EXPECT_FALSE(access.SelectListItem(MixerSide::Recording, Slot::inAuxItem, 1));
  EXPECT_EQ(calls(), before);
  EXPECT_TRUE(access.SetMicVolume(0x8000));
  EXPECT_EQ(fake.writes, std::vector<std::string>{"in 101 = 32768"});

  access.CloseMixers();
  EXPECT_EQ(fake.closes, 2);
  before = calls();
  EXPECT_FALSE(access.SetMicVolume(5));  // slot kept, side closed
  EXPECT_FALSE(access.SelectListItem(MixerSide::Recording, Slot::inMicItem, 1));
  EXPECT_EQ(calls(), before);
}

// The wave slots of a playback mixer, and the microphone playback mute, which tries the list and the
// microphone's mute and succeeds if either write does. Without a wave-out source its working line stays
// 0, so an unclassified line 0 fills the wave slots while an unclassified line 8 matches nothing.
TEST(MixerAccessTest, PlaybackSlotsAndAMicPlaybackMuteThatTriesBothWrites) {
  struct Case {
    const char* what;
    std::vector<FakeLine> sources;
    std::vector<FakeControl> destination;
    std::uint32_t waveMute, waveVolume;
    bool result;
    std::vector<std::string> writes;
  };
  const FakeLine wave = Line(20, mixer::kSrcWaveOut, "Wave", {Volume(201), Mute(202)});
  const FakeLine mic = Line(30, mixer::kSrcMicrophone, "Mic", {Volume(301), Mute(302)});
  const Case cases[] = {
      {"list and microphone", {wave, mic}, {Volume(90), Mute(91), MixerList(400, {20, 30})}, 202, 201, true,
       {"out 400[2] = 0 0", "out 302 = 1"}},
      {"no list", {wave, mic}, {Volume(90), Mute(91)}, 202, 201, true, {"out 302 = 1"}},
      {"no microphone line", {wave}, {Volume(90), Mute(91)}, 202, 201, false, {}},
      {"unclassified lines",
       {Line(8, mixer::kSrcLine, "Line", {Mute(81), Volume(82)}), Line(0, mixer::kSrcLine, "Line 0", {Mute(1), Volume(2)})},
       {Mute(91)}, 1, 2, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeMixer fake;
    SetPlayback(fake, c.sources, c.destination);
    MixerAccess access(fake);
    ASSERT_TRUE(OpenPlayback(access));
    EXPECT_EQ(access.slot(Slot::outWaveMute).controlId, c.waveMute);
    EXPECT_EQ(access.slot(Slot::outWaveVolume).controlId, c.waveVolume);
    EXPECT_EQ(access.SetMicPlaybackMute(1), c.result);
    EXPECT_EQ(fake.writes, c.writes);
  }
}

TEST(MixerAccessTest, ReopeningKeepsEarlierSlotsAndFillsOnlyEmptyOnes) {
  FakeMixer fake;
  SetRecording(fake, {Line(10, mixer::kSrcMicrophone, "Mic", {Volume(101)})}, {});
  MixerAccess access(fake);
  ASSERT_TRUE(OpenRecording(access));
  fake.recording.destinations[0].sources[0].controls[0].id = 999;
  fake.recording.destinations[0].line.controls = {Mux(300, {10})};
  ASSERT_TRUE(OpenRecording(access));
  EXPECT_EQ(fake.closes, 1);  // the first handle was closed before the second open
  EXPECT_EQ(access.slot(Slot::inMicVolume).controlId, 101u);
  EXPECT_EQ(access.slot(Slot::inMicItem).controlId, 300u);

  fake.probeFails = true;
  EXPECT_FALSE(OpenRecording(access));
  EXPECT_FALSE(access.IsOpen(MixerSide::Recording));
  EXPECT_EQ(fake.closes, 2);
}

}  // namespace
}  // namespace halvane::test
