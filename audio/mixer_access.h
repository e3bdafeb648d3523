#pragma once
// A short-lived view of the sound card's mixer: opening a side scans its destination once and records
// the controls the routing steps write in named slots; writes then go through a slot.

#include <array>
#include <cstddef>
#include <cstdint>

#include "audio/mixer_port.h"

namespace halvane {

// One captured control, or one item of a list control.
struct ControlSlot {
  std::uint32_t valid = 0;         // 1 once filled
  std::uint32_t lineId = 0;        // for information only
  std::uint32_t controlId = 0;     // the key of every later read or write
  std::uint32_t controlType = 0;
  std::uint32_t controlFlags = 0;  // MULTIPLE decides how many entries a read or write carries
  std::uint32_t itemCount = 0;     // cMultipleItems as requested (0 without MULTIPLE)
  std::uint32_t minimum = 0;
  std::uint32_t maximum = 0;
  std::uint32_t steps = 0;
  std::uint32_t itemIndex = 0;     // list items: position in the list
  std::uint32_t singleSelect = 0;  // list items: 0 for a MIXER list, 1 otherwise
};

enum class Slot : std::size_t {
  inMicVolume,
  inMicMute,
  inMicItem,
  inStereoMixMute,
  inStereoMixVolume,
  inStereoMixItem,
  inAuxItem,
  inMasterVolume,
  inMasterMute,
  outMasterVolume,
  outMasterMute,
  outWaveVolume,
  outAuxVolume,
  outWaveMute,
  outWaveItem,
  outMicMute,
  outMicItem,
  inLineZeroMute,
  inLineZeroItem,
};
constexpr std::size_t kSlotCount = 19;

enum class MixerSide { Recording, Playback };

class MixerAccess {
 public:
  explicit MixerAccess(MixerPort& port);
  ~MixerAccess();
  MixerAccess(const MixerAccess&) = delete;
  MixerAccess& operator=(const MixerAccess&) = delete;

  // Open one side (closing it first if open) and scan it. False, with the side closed, when no mixer
  // or no destination of the side's type is found; failures inside the scan only leave slots empty.
  bool SetInMixerDevice(std::uint32_t objectType, std::uint32_t device, WindowHandle callback);
  bool SetOutMixerDevice(std::uint32_t objectType, std::uint32_t device, WindowHandle callback);
  // Closes the recording side, then the playback side. Slots stay as they are.
  void CloseMixers();

  // Writes `value` in entry 0 of the slot's control, every other entry 0. False when the side is
  // closed, the slot empty, or the platform rejects the write (no platform call in the first two cases).
  bool SetControlValue(MixerSide side, Slot slot, std::uint32_t value);
  // Sets the slot's item of its list to `value`; on a MIXER list the other items keep their state.
  bool SelectListItem(MixerSide side, Slot slot, std::uint32_t value);

  bool SetMicVolume(std::uint32_t value);
  bool SetSpeakerMute(std::uint32_t value);
  // Deselects (value != 0) or selects the microphone's item on the speakers' list, then sets the
  // microphone's mute there; both are attempted. True if either write succeeded.
  bool SetMicPlaybackMute(std::uint32_t value);

  const ControlSlot& slot(Slot which) const { return slots_[static_cast<std::size_t>(which)]; }
  bool IsOpen(MixerSide side) const { return Side(side).open; }
  std::uint32_t MixerId(MixerSide side) const { return Side(side).mixerId; }

 private:
  struct SideState {
    std::uint32_t mixerId = 0;
    MixerHandle handle = 0;
    bool open = false;  // the handle is meaningful only while open
  };
  struct ControlRow;
  struct ItemRow;

  SideState& Side(MixerSide side) { return side == MixerSide::Recording ? recording_ : playback_; }
  const SideState& Side(MixerSide side) const { return side == MixerSide::Recording ? recording_ : playback_; }
  ControlSlot& At(Slot which) { return slots_[static_cast<std::size_t>(which)]; }

  bool OpenSide(MixerSide side, std::uint32_t objectType, std::uint32_t device, WindowHandle callback);
  void CloseSide(SideState& side);
  bool FindMixerId(MixerSide side, std::uint32_t objectType, std::uint32_t device, std::uint32_t* mixerId);
  bool FindDestination(MixerHandle handle, std::uint32_t componentType, std::uint32_t count, MixerLine* line);
  void ScanRecordingSources(MixerHandle handle, const MixerLine& destination);
  void ScanPlaybackSources(MixerHandle handle, const MixerLine& destination);
  void ScanDestination(MixerHandle handle, const MixerLine& destination, MixerSide side,
                       const ItemRow* rows, std::size_t rowCount);
  void OfferControls(MixerHandle handle, const MixerLine& source, std::uint32_t destinationLine,
                     const ControlRow* rows, std::size_t rowCount);
  void ReadList(MixerHandle handle, std::uint32_t destinationLine, const MixerControl& control,
                const ItemRow* rows, std::size_t rowCount);
  bool CaptureControl(MixerHandle handle, std::uint32_t lineId, const MixerControl& control, ControlSlot& slot);

  MixerPort& port_;
  SideState recording_;
  SideState playback_;
  std::array<ControlSlot, kSlotCount> slots_{};
};

}  // namespace halvane
