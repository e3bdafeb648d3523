#include "audio/mixer_access.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace halvane {

// A control offered to a row is taken when its type matches, the source's line passes the test and
// the slot is still empty. Volume rows record the source's line, mute rows the destination's.
struct MixerAccess::ControlRow {
  std::uint32_t controlType;
  const std::uint32_t* line;
  Slot slot;
  bool recordsSource;
};

// A list item is taken by the first row whose line it stands for and whose slot is still empty.
struct MixerAccess::ItemRow {
  const std::uint32_t* line;
  Slot slot;
};

namespace {

constexpr std::uint32_t kZeroLine = 0;

// cMultipleItems as a request names it: the item count of a MULTIPLE control, else 0.
std::uint32_t RequestedItems(std::uint32_t flags, std::uint32_t multipleItems) {
  return (flags & mixer::kControlMultiple) != 0 ? multipleItems : 0;
}

// Entries a request carries: one per item, one for a single value. 0 when the count is past all reason.
std::uint32_t EntryCount(std::uint32_t requestedItems) {
  const std::uint32_t entries = requestedItems == 0 ? 1 : requestedItems;
  return entries <= mixer::kMaxEntries ? entries : 0;
}

std::string_view ShortName(const MixerLine& line) {
  return std::string_view(line.shortName, strnlen(line.shortName, sizeof(line.shortName)));
}

// "Wave output mixer" in Traditional Chinese, code page 950: a stereo-mix line's name on some cards.
constexpr char kBig5WaveOutMixer[] = "\xC1\x6E\xAA\x69\xBF\xE9\xA5\x58\xB2\x56\xAD\xB5\xBE\xB9";

}  // namespace

MixerAccess::MixerAccess(MixerPort& port) : port_(port) {}

MixerAccess::~MixerAccess() { CloseMixers(); }

bool MixerAccess::SetInMixerDevice(std::uint32_t objectType, std::uint32_t device, WindowHandle callback) {
  return OpenSide(MixerSide::Recording, objectType, device, callback);
}

bool MixerAccess::SetOutMixerDevice(std::uint32_t objectType, std::uint32_t device, WindowHandle callback) {
  return OpenSide(MixerSide::Playback, objectType, device, callback);
}

void MixerAccess::CloseMixers() {
  CloseSide(recording_);
  CloseSide(playback_);
}

void MixerAccess::CloseSide(SideState& side) {
  if (!side.open) return;
  port_.CloseMixer(side.handle);
  side.open = false;
  side.handle = 0;
}

bool MixerAccess::FindMixerId(MixerSide side, std::uint32_t objectType, std::uint32_t device,
                              std::uint32_t* mixerId) {
  // The mixer behind a wave device is found by opening it: for the mapper that is the device the
  // mapper itself would use.
  if (side == MixerSide::Recording && objectType == mixer::kObjectWaveIn) {
    return port_.ProbeWaveMixer(true, device, mixerId);
  }
  if (side == MixerSide::Playback && objectType == mixer::kObjectWaveOut && device == mixer::kWaveMapper) {
    return port_.ProbeWaveMixer(false, device, mixerId);
  }
  if (objectType == mixer::kObjectMixer) {
    *mixerId = device;
    return true;
  }
  return port_.GetMixerId(device, objectType, mixerId);
}

bool MixerAccess::OpenSide(MixerSide which, std::uint32_t objectType, std::uint32_t device,
                           WindowHandle callback) {
  SideState& side = Side(which);
  CloseSide(side);

  std::uint32_t mixerId = 0;
  if (!FindMixerId(which, objectType, device, &mixerId)) return false;
  side.mixerId = mixerId;

  MixerHandle handle = 0;
  if (!port_.OpenMixer(mixerId, callback, &handle)) return false;
  side.handle = handle;
  side.open = true;

  // A mixer whose capabilities cannot be read offers no destinations.
  std::uint32_t destinations = 0;
  if (!port_.GetDestinationCount(mixerId, &destinations)) destinations = 0;

  const std::uint32_t wanted = which == MixerSide::Recording ? mixer::kDstWaveIn : mixer::kDstSpeakers;
  MixerLine destination;
  if (!FindDestination(handle, wanted, destinations, &destination)) {
    CloseSide(side);
    return false;
  }
  if (which == MixerSide::Recording) {
    ScanRecordingSources(handle, destination);
  } else {
    ScanPlaybackSources(handle, destination);
  }
  return true;
}

bool MixerAccess::FindDestination(MixerHandle handle, std::uint32_t componentType, std::uint32_t count,
                                  MixerLine* line) {
  for (std::uint32_t index = 0; index < count; ++index) {
    // A failed query ends the search: later destinations are not examined.
    if (!port_.GetDestinationLine(handle, index, line)) return false;
    if (line->componentType == componentType) return true;
  }
  return false;
}

void MixerAccess::ScanRecordingSources(MixerHandle handle, const MixerLine& destination) {
  std::uint32_t micLine = 0;
  std::uint32_t stereoMixLine = 0;
  std::uint32_t auxLine = 0;
  const ControlRow rows[] = {
      {mixer::kTypeMute, &micLine, Slot::inMicMute, false},
      {mixer::kTypeMute, &kZeroLine, Slot::inLineZeroMute, false},
      {mixer::kTypeMute, &stereoMixLine, Slot::inStereoMixMute, false},
      {mixer::kTypeVolume, &micLine, Slot::inMicVolume, true},
      {mixer::kTypeVolume, &stereoMixLine, Slot::inStereoMixVolume, true},
  };

  for (std::uint32_t index = 0; index < destination.connections; ++index) {
    MixerLine source;
    if (!port_.GetSourceLine(handle, destination.destination, index, &source)) continue;
    if (source.controls == 0) continue;

    // Type rules come first; names are compared byte for byte, letter case included.
    const std::string_view name = ShortName(source);
    if (source.componentType == mixer::kSrcMicrophone) {
      micLine = source.lineId;
    } else if (source.componentType == mixer::kSrcWaveOut) {  // NOLINT(bugprone-branch-clone): type rule before name rule
      stereoMixLine = source.lineId;
    } else if (name == "Stereo Mix" || name == "Stereo Mixer" || name == kBig5WaveOutMixer) {
      stereoMixLine = source.lineId;
    } else if (name == "Aux") {
      auxLine = source.lineId;
    } else {
      continue;
    }
    OfferControls(handle, source, destination.lineId, rows, sizeof(rows) / sizeof(rows[0]));
  }

  const ItemRow items[] = {
      {&micLine, Slot::inMicItem},
      {&kZeroLine, Slot::inLineZeroItem},
      {&stereoMixLine, Slot::inStereoMixItem},
      {&auxLine, Slot::inAuxItem},
  };
  ScanDestination(handle, destination, MixerSide::Recording, items, sizeof(items) / sizeof(items[0]));
}

void MixerAccess::ScanPlaybackSources(MixerHandle handle, const MixerLine& destination) {
  std::uint32_t waveLine = 0;
  std::uint32_t micLine = 0;
  std::uint32_t auxLine = 0;
  const ControlRow rows[] = {
      {mixer::kTypeMute, &waveLine, Slot::outWaveMute, false},
      {mixer::kTypeMute, &micLine, Slot::outMicMute, false},
      {mixer::kTypeVolume, &waveLine, Slot::outWaveVolume, true},
      {mixer::kTypeVolume, &auxLine, Slot::outAuxVolume, true},
  };

  for (std::uint32_t index = 0; index < destination.connections; ++index) {
    MixerLine source;
    if (!port_.GetSourceLine(handle, destination.destination, index, &source)) continue;
    // Unclassified lines are still offered: their controls can match a role whose line is still 0.
    if (source.componentType == mixer::kSrcWaveOut) {
      waveLine = source.lineId;
    } else if (source.componentType == mixer::kSrcMicrophone) {
      micLine = source.lineId;
    } else if (ShortName(source) == "Aux") {
      auxLine = source.lineId;
    }
    OfferControls(handle, source, destination.lineId, rows, sizeof(rows) / sizeof(rows[0]));
  }

  const ItemRow items[] = {
      {&waveLine, Slot::outWaveItem},
      {&micLine, Slot::outMicItem},
  };
  ScanDestination(handle, destination, MixerSide::Playback, items, sizeof(items) / sizeof(items[0]));
}

void MixerAccess::OfferControls(MixerHandle handle, const MixerLine& source, std::uint32_t destinationLine,
                                const ControlRow* rows, std::size_t rowCount) {
  if (source.controls == 0 || source.controls > mixer::kMaxEntries) return;
  std::vector<MixerControl> controls(source.controls);
  if (!port_.GetLineControls(handle, source.lineId, source.controls, controls.data())) return;

  for (const MixerControl& control : controls) {
    for (std::size_t r = 0; r < rowCount; ++r) {
      const ControlRow& row = rows[r];
      ControlSlot& slot = At(row.slot);
      if (row.controlType != control.controlType || source.lineId != *row.line || slot.valid != 0) continue;
      // The first matching row decides, whether or not the capture works.
      CaptureControl(handle, row.recordsSource ? source.lineId : destinationLine, control, slot);
      break;
    }
  }
}

void MixerAccess::ScanDestination(MixerHandle handle, const MixerLine& destination, MixerSide side,
                                  const ItemRow* rows, std::size_t rowCount) {
  if (destination.controls == 0 || destination.controls > mixer::kMaxEntries) return;
  std::vector<MixerControl> controls(destination.controls);
  if (!port_.GetLineControls(handle, destination.lineId, destination.controls, controls.data())) return;

  const bool recording = side == MixerSide::Recording;
  for (const MixerControl& control : controls) {
    if (control.controlType == mixer::kTypeVolume) {
      ControlSlot& slot = At(recording ? Slot::inMasterVolume : Slot::outMasterVolume);
      if (slot.valid == 0) CaptureControl(handle, destination.lineId, control, slot);
    } else if (control.controlType == mixer::kTypeMute) {
      ControlSlot& slot = At(recording ? Slot::inMasterMute : Slot::outMasterMute);
      if (slot.valid == 0) CaptureControl(handle, destination.lineId, control, slot);
    } else if (control.controlType == mixer::kTypeMux || control.controlType == mixer::kTypeMixer) {
      ReadList(handle, destination.lineId, control, rows, rowCount);
    }
  }
}

void MixerAccess::ReadList(MixerHandle handle, std::uint32_t destinationLine, const MixerControl& control,
                           const ItemRow* rows, std::size_t rowCount) {
  const std::uint32_t requested = RequestedItems(control.flags, control.multipleItems);
  const bool multiple = (control.flags & mixer::kControlMultiple) != 0;
  const std::uint32_t items = multiple ? control.multipleItems : 1;
  if (items == 0 || items > mixer::kMaxEntries) return;

  std::vector<MixerListText> texts(items);
  if (!port_.GetListTexts(handle, control.controlId, requested, texts.data(), items)) return;

  const std::uint32_t singleSelect = control.controlType == mixer::kTypeMixer ? 0 : 1;
  for (std::uint32_t k = 0; k < items; ++k) {
    const std::uint32_t line = texts[k].param1;
    for (std::size_t r = 0; r < rowCount; ++r) {
      ControlSlot& slot = At(rows[r].slot);
      if (line != *rows[r].line || slot.valid != 0) continue;
      slot.valid = 1;
      slot.lineId = destinationLine;
      slot.controlId = control.controlId;
      slot.controlType = control.controlType;
      slot.controlFlags = control.flags;
      slot.itemCount = requested;
      slot.minimum = control.minimum;
      slot.maximum = control.maximum;
      slot.steps = control.steps;
      slot.itemIndex = k;
      slot.singleSelect = singleSelect;
      break;
    }
  }
}

bool MixerAccess::CaptureControl(MixerHandle handle, std::uint32_t lineId, const MixerControl& control,
                                 ControlSlot& slot) {
  const std::uint32_t requested = RequestedItems(control.flags, control.multipleItems);
  const std::uint32_t entries = EntryCount(requested);
  if (entries == 0) return false;
  // The values themselves are not kept: the read proves the control answers.
  std::vector<std::uint32_t> values(entries, 0);
  if (!port_.GetControlValues(handle, control.controlId, requested, values.data(), entries)) return false;

  slot.valid = 1;
  slot.lineId = lineId;
  slot.controlId = control.controlId;
  slot.controlType = control.controlType;
  slot.controlFlags = control.flags;
  slot.itemCount = requested;
  slot.minimum = control.minimum;
  slot.maximum = control.maximum;
  slot.steps = control.steps;
  return true;
}

bool MixerAccess::SetControlValue(MixerSide side, Slot which, std::uint32_t value) {
  const SideState& state = Side(side);
  const ControlSlot& target = slot(which);
  if (!state.open || target.valid == 0) return false;
  const std::uint32_t requested = RequestedItems(target.controlFlags, target.itemCount);
  const std::uint32_t entries = EntryCount(requested);
  if (entries == 0) return false;

  // Written as given, not scaled to the control's bounds.
  std::vector<std::uint32_t> values(entries, 0);
  values[0] = value;
  return port_.SetControlValues(state.handle, target.controlId, requested, values.data(), entries);
}

bool MixerAccess::SelectListItem(MixerSide side, Slot which, std::uint32_t value) {
  const SideState& state = Side(side);
  const ControlSlot& target = slot(which);
  if (!state.open || target.valid == 0) return false;
  const std::uint32_t requested = RequestedItems(target.controlFlags, target.itemCount);
  const std::uint32_t entries = EntryCount(requested);
  if (entries == 0 || target.itemIndex >= entries) return false;

  std::vector<std::uint32_t> values(entries, 0);
  // A MIXER list may have several items on: keep the others as they are. A MUX list has one, so
  // writing from all-zero clears the rest.
  if (target.singleSelect == 0 &&
      !port_.GetControlValues(state.handle, target.controlId, requested, values.data(), entries)) {
    std::fill(values.begin(), values.end(), 0U);
  }
  values[target.itemIndex] = value;
  return port_.SetControlValues(state.handle, target.controlId, requested, values.data(), entries);
}

bool MixerAccess::SetMicVolume(std::uint32_t value) {
  return SetControlValue(MixerSide::Recording, Slot::inMicVolume, value);
}

bool MixerAccess::SetSpeakerMute(std::uint32_t value) {
  return SetControlValue(MixerSide::Playback, Slot::outMasterMute, value);
}

bool MixerAccess::SetMicPlaybackMute(std::uint32_t value) {
  const bool item = SelectListItem(MixerSide::Playback, Slot::outMicItem, value == 0 ? 1U : 0U);
  const bool mute = SetControlValue(MixerSide::Playback, Slot::outMicMute, value);
  return item || mute;
}

}  // namespace halvane
