#pragma once
// A scripted sound-card mixer behind the mixer port: a table of destinations, their source lines,
// each line's controls and each list's items. Records what the logic asks and writes.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/mixer_port.h"

namespace halvane::test {

struct FakeControl {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::uint32_t items = 0;              // cMultipleItems; a list when not 0
  std::vector<std::uint32_t> itemLines;  // lists: the line each item stands for
  std::vector<std::uint32_t> values;     // current values; empty reads as zeros
  bool failRead = false;
};

struct FakeLine {
  std::uint32_t lineId = 0;
  std::uint32_t type = 0;
  std::string shortName;
  std::vector<FakeControl> controls;
  bool failControls = false;
};

struct FakeDestination {
  FakeLine line;
  std::vector<FakeLine> sources;
  bool failQuery = false;
};

struct FakeDevice {
  std::vector<FakeDestination> destinations;
  bool failCaps = false;
  bool failOpen = false;
};

inline FakeControl Volume(std::uint32_t id) { return FakeControl{id, mixer::kTypeVolume, 0, {}, {}, false}; }
inline FakeControl Mute(std::uint32_t id) { return FakeControl{id, mixer::kTypeMute, 0, {}, {}, false}; }
inline FakeControl List(std::uint32_t id, std::uint32_t type, std::vector<std::uint32_t> lines) {
  const auto n = static_cast<std::uint32_t>(lines.size());
  return FakeControl{id, type, n, std::move(lines), {}, false};
}
inline FakeControl Mux(std::uint32_t id, std::vector<std::uint32_t> lines) {
  return List(id, mixer::kTypeMux, std::move(lines));
}
inline FakeControl MixerList(std::uint32_t id, std::vector<std::uint32_t> lines) {
  return List(id, mixer::kTypeMixer, std::move(lines));
}
inline FakeLine Line(std::uint32_t lineId, std::uint32_t type, std::string name, std::vector<FakeControl> controls) {
  return FakeLine{lineId, type, std::move(name), std::move(controls), false};
}

class FakeMixer final : public MixerPort {
 public:
  static constexpr std::uint32_t kRecordingId = 3;
  static constexpr std::uint32_t kPlaybackId = 5;

  FakeDevice recording;
  FakeDevice playback;
  bool probeFails = false;
  bool rejectWrites = false;

  // Each write as "in 92[3] = 1 0 0": the side, the control, the item count when a list, the values.
  std::vector<std::string> writes;
  std::vector<std::uint32_t> destinationQueries;  // destination indexes asked for
  std::vector<std::uint32_t> controlReads;        // lines whose controls were listed
  std::vector<std::uint32_t> valueReads;          // controls whose values were read
  int opens = 0;
  int closes = 0;

  bool ProbeWaveMixer(bool isRecording, std::uint32_t, std::uint32_t* mixerId) override {
    *mixerId = isRecording ? kRecordingId : kPlaybackId;
    return !probeFails;
  }
  // Never asked for by the logic under test.
  bool GetMixerId(std::uint32_t, std::uint32_t, std::uint32_t*) override { return false; }
  std::uint32_t GetMixerCount() override { return 0; }
  bool GetLineById(MixerHandle, std::uint32_t, MixerLine*) override { return false; }
  bool GetLineControlByType(MixerHandle, std::uint32_t, std::uint32_t, MixerControl*) override { return false; }

  bool OpenMixer(std::uint32_t mixerId, WindowHandle, MixerHandle* handle) override {
    FakeDevice* device = ById(mixerId);
    if (device == nullptr || device->failOpen) return false;
    ++opens;
    *handle = mixerId + 100;
    return true;
  }
  void CloseMixer(MixerHandle) override { ++closes; }
  bool GetDestinationCount(std::uint32_t mixerId, std::uint32_t* count) override {
    FakeDevice* device = ById(mixerId);
    *count = 3;  // what a failed query leaves here is no count
    if (device == nullptr || device->failCaps) return false;
    *count = static_cast<std::uint32_t>(device->destinations.size());
    return true;
  }
  bool GetDestinationLine(MixerHandle handle, std::uint32_t destination, MixerLine* line) override {
    destinationQueries.push_back(destination);
    const FakeDestination* d = Destination(handle, destination);
    if (d == nullptr || d->failQuery) return false;
    Fill(d->line, destination, 0, line);
    line->connections = static_cast<std::uint32_t>(d->sources.size());
    return true;
  }
  bool GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source, MixerLine* line) override {
    const FakeDestination* d = Destination(handle, destination);
    return d != nullptr && source < d->sources.size() && Fill(d->sources[source], destination, source, line);
  }
  bool GetLineControls(MixerHandle handle, std::uint32_t lineId, std::uint32_t count,
                       MixerControl* controls) override {
    controlReads.push_back(lineId);
    const FakeLine* line = nullptr;
    for (FakeLine* l : Lines(handle)) {
      if (line == nullptr && l->lineId == lineId) line = l;
    }
    if (line == nullptr || line->failControls || count != line->controls.size() || count == 0) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const FakeControl& c = line->controls[i];
      controls[i] = MixerControl{c.id, c.type, c.items != 0 ? mixer::kControlMultiple : 0, c.items, 0, 65535, 65536};
    }
    return true;
  }
  bool GetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                        std::uint32_t* values, std::uint32_t count) override {
    valueReads.push_back(controlId);
    FakeControl* control = FindControl(handle, controlId);
    if (control == nullptr || control->failRead || count < Needed(multipleItems)) return false;
    for (std::uint32_t i = 0; i < count; ++i) values[i] = i < control->values.size() ? control->values[i] : 0;
    return true;
  }
  bool GetListTexts(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                    MixerListText* items, std::uint32_t count) override {
    FakeControl* control = FindControl(handle, controlId);
    if (control == nullptr || count < Needed(multipleItems)) return false;
    for (std::uint32_t i = 0; i < count && i < control->itemLines.size(); ++i) items[i].param1 = control->itemLines[i];
    return true;
  }
  bool SetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                        const std::uint32_t* values, std::uint32_t count) override {
    std::string write = (handle == kRecordingId + 100 ? "in " : "out ") + std::to_string(controlId);
    if (multipleItems != 0) write += "[" + std::to_string(multipleItems) + "]";
    write += " =";
    for (std::uint32_t i = 0; i < count; ++i) write += " " + std::to_string(values[i]);
    writes.push_back(write);
    FakeControl* control = FindControl(handle, controlId);
    if (control == nullptr || rejectWrites) return false;
    control->values.assign(values, values + count);
    return true;
  }

 private:
  static std::uint32_t Needed(std::uint32_t multipleItems) { return multipleItems == 0 ? 1 : multipleItems; }

  FakeDevice* ById(std::uint32_t mixerId) {
    if (mixerId == kRecordingId) return &recording;
    return mixerId == kPlaybackId ? &playback : nullptr;
  }
  FakeDestination* Destination(MixerHandle handle, std::uint32_t index) {
    FakeDevice* device = ById(static_cast<std::uint32_t>(handle - 100));
    return device == nullptr || index >= device->destinations.size() ? nullptr : &device->destinations[index];
  }
  std::vector<FakeLine*> Lines(MixerHandle handle) {
    std::vector<FakeLine*> lines;
    for (std::uint32_t d = 0; Destination(handle, d) != nullptr; ++d) {
      lines.push_back(&Destination(handle, d)->line);
      for (FakeLine& s : Destination(handle, d)->sources) lines.push_back(&s);
    }
    return lines;
  }
  FakeControl* FindControl(MixerHandle handle, std::uint32_t controlId) {
    for (FakeLine* line : Lines(handle)) {
      for (FakeControl& c : line->controls) {
        if (c.id == controlId) return &c;
      }
    }
    return nullptr;
  }
  static bool Fill(const FakeLine& from, std::uint32_t destination, std::uint32_t source, MixerLine* to) {
    *to = MixerLine{};
    to->destination = destination;
    to->source = source;
    to->lineId = from.lineId;
    to->componentType = from.type;
    to->controls = static_cast<std::uint32_t>(from.controls.size());
    std::memcpy(to->shortName, from.shortName.data(), std::min(from.shortName.size(), sizeof(to->shortName) - 1));
    return true;
  }
};

}  // namespace halvane::test
