#pragma once
// The sound-card mixer operations mixer access makes, shaped like the WINMM calls behind them.
// WINMM in the product (mixer_port_win32.cpp); a scripted model in the tests.

#include <cstdint>

#include "base/call_board.h"

namespace halvane {

// An open mixer (HMIXER on Windows). Opaque; whether a side is open is tracked by its owner, since a
// platform may hand out any value, 0 included.
using MixerHandle = std::uintptr_t;

// The platform's constants, by their WINMM names, for the portable logic.
namespace mixer {
constexpr std::uint32_t kObjectMixer = 0x00000000;     // MIXER_OBJECTF_MIXER
constexpr std::uint32_t kObjectWaveOut = 0x10000000;   // MIXER_OBJECTF_WAVEOUT
constexpr std::uint32_t kObjectWaveIn = 0x20000000;    // MIXER_OBJECTF_WAVEIN
constexpr std::uint32_t kWaveMapper = 0xFFFFFFFF;      // WAVE_MAPPER
constexpr std::uint32_t kDstSpeakers = 4;              // MIXERLINE_COMPONENTTYPE_DST_SPEAKERS
constexpr std::uint32_t kDstWaveIn = 7;                // MIXERLINE_COMPONENTTYPE_DST_WAVEIN
constexpr std::uint32_t kSrcMicrophone = 0x1003;       // MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE
constexpr std::uint32_t kSrcWaveOut = 0x1008;          // MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT
constexpr std::uint32_t kSrcLine = 0x1002;             // MIXERLINE_COMPONENTTYPE_SRC_LINE
constexpr std::uint32_t kSrcAuxiliary = 0x1009;        // MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY
constexpr std::uint32_t kTypeMute = 0x20010002;        // MIXERCONTROL_CONTROLTYPE_MUTE
constexpr std::uint32_t kTypeVolume = 0x50030001;      // MIXERCONTROL_CONTROLTYPE_VOLUME
constexpr std::uint32_t kTypeMux = 0x70010001;         // MIXERCONTROL_CONTROLTYPE_MUX
constexpr std::uint32_t kTypeMixer = 0x71010001;       // MIXERCONTROL_CONTROLTYPE_MIXER
constexpr std::uint32_t kControlMultiple = 0x00000002; // MIXERCONTROL_CONTROLF_MULTIPLE

// Sizes of the platform's name fields (MIXER_SHORT_NAME_CHARS, MIXER_LONG_NAME_CHARS), terminator included.
constexpr std::uint32_t kShortNameChars = 16;
constexpr std::uint32_t kLongNameChars = 64;

// No driver lists more controls or items than this; a larger count is taken as a broken answer.
constexpr std::uint32_t kMaxEntries = 1024;
}  // namespace mixer

// One line of a mixer (MIXERLINEA). Names are always zero-terminated within their fields.
struct MixerLine {
  std::uint32_t destination = 0;
  std::uint32_t source = 0;
  std::uint32_t lineId = 0;
  std::uint32_t componentType = 0;
  std::uint32_t connections = 0;
  std::uint32_t controls = 0;
  char shortName[mixer::kShortNameChars] = {};
  char name[mixer::kLongNameChars] = {};
};

// One control of a line (MIXERCONTROLA), the fields the logic uses.
struct MixerControl {
  std::uint32_t controlId = 0;
  std::uint32_t controlType = 0;
  std::uint32_t flags = 0;
  std::uint32_t multipleItems = 0;
  std::uint32_t minimum = 0;
  std::uint32_t maximum = 0;
  std::uint32_t steps = 0;
};

// One item of a list control (MIXERCONTROLDETAILS_LISTTEXTA): param1 is the line the item stands for.
struct MixerListText {
  std::uint32_t param1 = 0;
  std::uint32_t param2 = 0;
  char name[mixer::kLongNameChars] = {};
};

// Every call reports success or failure; nothing is thrown. Value exchanges carry one channel and
// 4-byte entries: `multipleItems` is what the request names (0 for a single value), `count` the room
// in the caller's array (at least 1).
class MixerPort {
 public:
  virtual ~MixerPort() = default;

  // Opens the wave device (wave-in when `recording`, else wave-out) on a small mono PCM format without
  // starting it, asks for the mixer that serves it, and closes it again.
  virtual bool ProbeWaveMixer(bool recording, std::uint32_t device, std::uint32_t* mixerId) = 0;
  // mixerGetID on a device with a MIXER_OBJECTF_ object type.
  virtual bool GetMixerId(std::uint32_t device, std::uint32_t objectType, std::uint32_t* mixerId) = 0;
  // mixerGetNumDevs.
  virtual std::uint32_t GetMixerCount() = 0;

  // mixerOpen, with the window as CALLBACK_WINDOW when it is not 0; mixerClose.
  virtual bool OpenMixer(std::uint32_t mixerId, WindowHandle callback, MixerHandle* handle) = 0;
  virtual void CloseMixer(MixerHandle handle) = 0;
  // mixerGetDevCaps: cDestinations.
  virtual bool GetDestinationCount(std::uint32_t mixerId, std::uint32_t* count) = 0;

  // mixerGetLineInfo by destination index, by destination and source index, and by line id.
  virtual bool GetDestinationLine(MixerHandle handle, std::uint32_t destination, MixerLine* line) = 0;
  virtual bool GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                             MixerLine* line) = 0;
  virtual bool GetLineById(MixerHandle handle, std::uint32_t lineId, MixerLine* line) = 0;

  // mixerGetLineControls: all `count` controls of a line, or the first control of one type.
  virtual bool GetLineControls(MixerHandle handle, std::uint32_t lineId, std::uint32_t count,
                               MixerControl* controls) = 0;
  virtual bool GetLineControlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                                    MixerControl* control) = 0;

  // mixerGetControlDetails (values, list texts) and mixerSetControlDetails (values).
  virtual bool GetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                                std::uint32_t* values, std::uint32_t count) = 0;
  virtual bool GetListTexts(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                            MixerListText* items, std::uint32_t count) = 0;
  virtual bool SetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                                const std::uint32_t* values, std::uint32_t count) = 0;
};

// The platform's mixer: WINMM on Windows; elsewhere a machine without mixers, on which every query fails.
MixerPort& PlatformMixerPort();

}  // namespace halvane
