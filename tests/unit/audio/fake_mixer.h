#pragma once
// A scripted sound-card mixer behind the mixer port: a table of destinations, their source lines,
// each line's controls and each list's items. Records every call the logic makes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio/mixer_port.h"

namespace halvane::test {

struct FakeControl {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::uint32_t flags = 0;
  std::uint32_t items = 0;              // cMultipleItems
  std::vector<std::uint32_t> itemLines;  // lists: the line each item stands for
  std::vector<std::uint32_t> values;     // current values; empty reads as zeros
  bool failRead = false;
  bool failTexts = false;
};

struct FakeLine {
  std::uint32_t lineId = 0;
  std::uint32_t type = 0;
  std::string shortName;
  std::vector<FakeControl> controls;
  bool failQuery = false;
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

inline FakeControl Volume(std::uint32_t id) { return FakeControl{id, mixer::kTypeVolume, 0, 0, {}, {}, false, false}; }
inline FakeControl Mute(std::uint32_t id) { return FakeControl{id, mixer::kTypeMute, 0, 0, {}, {}, false, false}; }
inline FakeControl List(std::uint32_t id, std::uint32_t type, std::vector<std::uint32_t> lines) {
  const auto n = static_cast<std::uint32_t>(lines.size());
  return FakeControl{id, type, mixer::kControlMultiple, n, std::move(lines), {}, false, false};
}
inline FakeControl Mux(std::uint32_t id, std::vector<std::uint32_t> lines) {
  return List(id, mixer::kTypeMux, std::move(lines));
}
inline FakeControl MixerList(std::uint32_t id, std::vector<std::uint32_t> lines) {
  return List(id, mixer::kTypeMixer, std::move(lines));
}
inline FakeLine Line(std::uint32_t lineId, std::uint32_t type, std::string name, std::vector<FakeControl> controls) {
  return FakeLine{lineId, type, std::move(name), std::move(controls), false, false};
}

class FakeMixer final : public MixerPort {
 public:
  static constexpr std::uint32_t kRecordingId = 3;
  static constexpr std::uint32_t kPlaybackId = 5;

  FakeDevice recording;
  FakeDevice playback;
  bool probeFails = false;
  bool rejectWrites = false;

  struct Write {
    std::uint32_t mixerId;
    std::uint32_t controlId;
    std::uint32_t multipleItems;
    std::vector<std::uint32_t> values;
  };
  std::vector<Write> writes;
  std::vector<std::uint32_t> destinationQueries;  // destination indexes asked for
  std::vector<std::uint32_t> controlReads;        // lines whose controls were listed
  std::vector<std::uint32_t> valueReads;          // controls whose values were read
  int calls = 0;
  int opens = 0;
  int closes = 0;

  bool ProbeWaveMixer(bool isRecording, std::uint32_t, std::uint32_t* mixerId) override {
    ++calls;
    if (probeFails) return false;
    *mixerId = isRecording ? kRecordingId : kPlaybackId;
    return true;
  }
  bool GetMixerId(std::uint32_t device, std::uint32_t, std::uint32_t* mixerId) override {
    ++calls;
    *mixerId = device;
    return true;
  }
  std::uint32_t GetMixerCount() override {
    ++calls;
    return 2;
  }
  bool OpenMixer(std::uint32_t mixerId, WindowHandle, MixerHandle* handle) override {
    ++calls;
    FakeDevice* device = ById(mixerId);
    if (device == nullptr || device->failOpen) return false;
    ++opens;
    *handle = mixerId + 100;
    return true;
  }
  void CloseMixer(MixerHandle) override {
    ++calls;
    ++closes;
  }
  bool GetDestinationCount(std::uint32_t mixerId, std::uint32_t* count) override {
    ++calls;
    FakeDevice* device = ById(mixerId);
    *count = 3;  // what a failed query leaves here is no count
    if (device == nullptr || device->failCaps) return false;
    *count = static_cast<std::uint32_t>(device->destinations.size());
    return true;
  }
  bool GetDestinationLine(MixerHandle handle, std::uint32_t destination, MixerLine* line) override {
    ++calls;
    destinationQueries.push_back(destination);
    FakeDevice* device = ByHandle(handle);
    if (device == nullptr || destination >= device->destinations.size()) return false;
    const FakeDestination& d = device->destinations[destination];
    if (d.failQuery) return false;
    Fill(d.line, line);
    line->destination = destination;
    line->connections = static_cast<std::uint32_t>(d.sources.size());
    return true;
  }
  bool GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source, MixerLine* line) override {
    ++calls;
    FakeDevice* device = ByHandle(handle);
    if (device == nullptr || destination >= device->destinations.size()) return false;
    const FakeDestination& d = device->destinations[destination];
    if (source >= d.sources.size() || d.sources[source].failQuery) return false;
    Fill(d.sources[source], line);
    line->destination = destination;
    line->source = source;
    return true;
  }
  bool GetLineById(MixerHandle handle, std::uint32_t lineId, MixerLine* line) override {
    ++calls;
    const FakeLine* found = FindLine(handle, lineId);
    if (found == nullptr) return false;
    Fill(*found, line);
    return true;
  }
  bool GetLineControls(MixerHandle handle, std::uint32_t lineId, std::uint32_t count,
                       MixerControl* controls) override {
    ++calls;
    controlReads.push_back(lineId);
    const FakeLine* line = FindLine(handle, lineId);
    if (line == nullptr || line->failControls || count != line->controls.size() || count == 0) return false;
    for (std::uint32_t i = 0; i < count; ++i) FillControl(line->controls[i], &controls[i]);
    return true;
  }
  bool GetLineControlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t type,
                            MixerControl* control) override {
    ++calls;
    const FakeLine* line = FindLine(handle, lineId);
    if (line == nullptr) return false;
    for (const FakeControl& c : line->controls) {
      if (c.type == type) {
        FillControl(c, control);
        return true;
      }
    }
    return false;
  }
  bool GetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                        std::uint32_t* values, std::uint32_t count) override {
    ++calls;
    valueReads.push_back(controlId);
    FakeControl* control = FindControl(handle, controlId);
    if (control == nullptr || control->failRead || count < Needed(multipleItems)) return false;
    for (std::uint32_t i = 0; i < count; ++i) values[i] = i < control->values.size() ? control->values[i] : 0;
    return true;
  }
  bool GetListTexts(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                    MixerListText* items, std::uint32_t count) override {
    ++calls;
    FakeControl* control = FindControl(handle, controlId);
    if (control == nullptr || control->failTexts || count < Needed(multipleItems)) return false;
    for (std::uint32_t i = 0; i < count && i < control->itemLines.size(); ++i) items[i].param1 = control->itemLines[i];
    return true;
  }
  bool SetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                        const std::uint32_t* values, std::uint32_t count) override {
    ++calls;
    writes.push_back(Write{static_cast<std::uint32_t>(handle - 100), controlId, multipleItems,
                           std::vector<std::uint32_t>(values, values + count)});
    FakeControl* control = FindControl(handle, controlId);
    if (control == nullptr || rejectWrites) return false;
    control->values.assign(values, values + count);
    return true;
  }

 private:
  static std::uint32_t Needed(std::uint32_t multipleItems) { return multipleItems == 0 ? 1 : multipleItems; }

  FakeDevice* ById(std::uint32_t mixerId) {
    if (mixerId == kRecordingId) return &recording;
    if (mixerId == kPlaybackId) return &playback;
    return nullptr;
  }
  FakeDevice* ByHandle(MixerHandle handle) { return ById(static_cast<std::uint32_t>(handle - 100)); }

  FakeLine* FindLine(MixerHandle handle, std::uint32_t lineId) {
    FakeDevice* device = ByHandle(handle);
    if (device == nullptr) return nullptr;
    for (FakeDestination& d : device->destinations) {
      if (d.line.lineId == lineId) return &d.line;
      for (FakeLine& s : d.sources) {
        if (s.lineId == lineId) return &s;
      }
    }
    return nullptr;
  }
  FakeControl* FindControl(MixerHandle handle, std::uint32_t controlId) {
    FakeDevice* device = ByHandle(handle);
    if (device == nullptr) return nullptr;
    for (FakeDestination& d : device->destinations) {
      for (FakeControl& c : d.line.controls) {
        if (c.id == controlId) return &c;
      }
      for (FakeLine& s : d.sources) {
        for (FakeControl& c : s.controls) {
          if (c.id == controlId) return &c;
        }
      }
    }
    return nullptr;
  }
  static void Fill(const FakeLine& from, MixerLine* to) {
    to->lineId = from.lineId;
    to->componentType = from.type;
    to->controls = static_cast<std::uint32_t>(from.controls.size());
    std::memset(to->shortName, 0, sizeof(to->shortName));
    std::memcpy(to->shortName, from.shortName.data(),
                from.shortName.size() < sizeof(to->shortName) ? from.shortName.size() : sizeof(to->shortName) - 1);
  }
  static void FillControl(const FakeControl& from, MixerControl* to) {
    to->controlId = from.id;
    to->controlType = from.type;
    to->flags = from.flags;
    to->multipleItems = from.items;
    to->minimum = 0;
    to->maximum = 65535;
    to->steps = 65536;
  }
};

}  // namespace halvane::test
