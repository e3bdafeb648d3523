// The mixer port over WINMM: ANSI structures, one channel, 4-byte entries, every size from the platform.

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstring>
#include <vector>

#include "audio/mixer_port.h"

namespace halvane {
namespace {

static_assert(sizeof(MIXERCONTROLDETAILS_UNSIGNED) == sizeof(std::uint32_t), "4-byte value entries");
static_assert(sizeof(MIXERCONTROLDETAILS_BOOLEAN) == sizeof(std::uint32_t), "4-byte value entries");
static_assert(MIXER_SHORT_NAME_CHARS == mixer::kShortNameChars, "short name field size");
static_assert(MIXER_LONG_NAME_CHARS == mixer::kLongNameChars, "long name field size");

HMIXER ToHmixer(MixerHandle handle) { return reinterpret_cast<HMIXER>(handle); }
HMIXEROBJ ToObject(MixerHandle handle) { return reinterpret_cast<HMIXEROBJ>(handle); }

// Copies a platform name into ours, always terminated within the field.
template <std::size_t N, std::size_t M>
void CopyName(char (&to)[N], const CHAR (&from)[M]) {
  static_assert(N >= M, "our field holds the platform's");
  std::memcpy(to, from, M);
  to[M - 1] = '\0';
}

void CopyLine(const MIXERLINEA& from, MixerLine* to) {
  to->destination = from.dwDestination;
  to->source = from.dwSource;
  to->lineId = from.dwLineID;
  to->componentType = from.dwComponentType;
  to->connections = from.cConnections;
  to->controls = from.cControls;
  CopyName(to->shortName, from.szShortName);
  CopyName(to->name, from.szName);
}

void CopyControl(const MIXERCONTROLA& from, MixerControl* to) {
  to->controlId = from.dwControlID;
  to->controlType = from.dwControlType;
  to->flags = from.fdwControl;
  to->multipleItems = from.cMultipleItems;
  to->minimum = from.Bounds.dwMinimum;
  to->maximum = from.Bounds.dwMaximum;
  to->steps = from.Metrics.cSteps;
}

// Value details of one channel over 4-byte entries.
MIXERCONTROLDETAILS ValueDetails(std::uint32_t controlId, std::uint32_t multipleItems, void* values) {
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof(details);
  details.dwControlID = controlId;
  details.cChannels = 1;
  details.cMultipleItems = multipleItems;
  details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
  details.paDetails = values;
  return details;
}

// The room a request needs: one entry per item, or one for a single value.
bool RoomFits(std::uint32_t multipleItems, std::uint32_t count) {
  const std::uint32_t needed = multipleItems == 0 ? 1 : multipleItems;
  return count >= needed && needed <= mixer::kMaxEntries;
}

class WinmmMixerPort final : public MixerPort {
 public:
  bool ProbeWaveMixer(bool recording, std::uint32_t device, std::uint32_t* mixerId) override {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nAvgBytesPerSec = 16000;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    const DWORD_PTR callback = reinterpret_cast<DWORD_PTR>(GetDesktopWindow());
    UINT id = 0;
    MMRESULT result = MMSYSERR_ERROR;
    if (recording) {
      HWAVEIN wave = nullptr;
      if (waveInOpen(&wave, device, &format, callback, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) return false;
      result = mixerGetID(reinterpret_cast<HMIXEROBJ>(wave), &id, MIXER_OBJECTF_HWAVEIN);
      waveInClose(wave);
    } else {
      HWAVEOUT wave = nullptr;
      if (waveOutOpen(&wave, device, &format, callback, 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) return false;
      result = mixerGetID(reinterpret_cast<HMIXEROBJ>(wave), &id, MIXER_OBJECTF_HWAVEOUT);
      waveOutClose(wave);
    }
    if (result == MMSYSERR_NOERROR) {
      *mixerId = id;
      return true;
    }
    // Some systems (Wine among them) name no mixer for a handle the mapper opened. The mapper's
    // preferred device, or failing that the first device, is the one it plays through.
    if (device != WAVE_MAPPER) return false;
    return MapperMixer(recording, mixerId);
  }

  bool GetMixerId(std::uint32_t device, std::uint32_t objectType, std::uint32_t* mixerId) override {
    UINT id = 0;
    // The device number travels in the object-handle argument, as the platform defines for IDs.
    if (mixerGetID(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(device)), &id, objectType) !=
        MMSYSERR_NOERROR) {
      return false;
    }
    *mixerId = id;
    return true;
  }

  std::uint32_t GetMixerCount() override { return mixerGetNumDevs(); }

  bool OpenMixer(std::uint32_t mixerId, WindowHandle callback, MixerHandle* handle) override {
    HMIXER mixer = nullptr;
    const DWORD flags = callback != 0 ? CALLBACK_WINDOW : 0;
    if (mixerOpen(&mixer, mixerId, static_cast<DWORD_PTR>(callback), 0, flags) != MMSYSERR_NOERROR) return false;
    *handle = reinterpret_cast<MixerHandle>(mixer);
    return true;
  }

  void CloseMixer(MixerHandle handle) override { mixerClose(ToHmixer(handle)); }

  bool GetDestinationCount(std::uint32_t mixerId, std::uint32_t* count) override {
    MIXERCAPSA caps{};
    if (mixerGetDevCapsA(mixerId, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return false;
    *count = caps.cDestinations;
    return true;
  }

  bool GetDestinationLine(MixerHandle handle, std::uint32_t destination, MixerLine* line) override {
    MIXERLINEA info{};
    info.cbStruct = sizeof(info);
    info.dwDestination = destination;
    return QueryLine(handle, &info, MIXER_GETLINEINFOF_DESTINATION, line);
  }

  bool GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                     MixerLine* line) override {
    MIXERLINEA info{};
    info.cbStruct = sizeof(info);
    info.dwDestination = destination;
    info.dwSource = source;
    return QueryLine(handle, &info, MIXER_GETLINEINFOF_SOURCE, line);
  }

  bool GetLineById(MixerHandle handle, std::uint32_t lineId, MixerLine* line) override {
    MIXERLINEA info{};
    info.cbStruct = sizeof(info);
    info.dwLineID = lineId;
    return QueryLine(handle, &info, MIXER_GETLINEINFOF_LINEID, line);
  }

  bool GetLineControls(MixerHandle handle, std::uint32_t lineId, std::uint32_t count,
                       MixerControl* controls) override {
    if (count == 0 || count > mixer::kMaxEntries) return false;
    std::vector<MIXERCONTROLA> found(count);
    MIXERLINECONTROLSA request{};
    request.cbStruct = sizeof(request);
    request.dwLineID = lineId;
    request.cControls = count;
    request.cbmxctrl = sizeof(MIXERCONTROLA);
    request.pamxctrl = found.data();
    if (mixerGetLineControlsA(ToObject(handle), &request, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ALL) !=
        MMSYSERR_NOERROR) {
      return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) CopyControl(found[i], &controls[i]);
    return true;
  }

  bool GetLineControlByType(MixerHandle handle, std::uint32_t lineId, std::uint32_t controlType,
                            MixerControl* control) override {
    MIXERCONTROLA found{};
    found.cbStruct = sizeof(found);
    MIXERLINECONTROLSA request{};
    request.cbStruct = sizeof(request);
    request.dwLineID = lineId;
    request.dwControlType = controlType;
    request.cControls = 1;
    request.cbmxctrl = sizeof(MIXERCONTROLA);
    request.pamxctrl = &found;
    if (mixerGetLineControlsA(ToObject(handle), &request,
                              MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR) {
      return false;
    }
    CopyControl(found, control);
    return true;
  }

  bool GetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                        std::uint32_t* values, std::uint32_t count) override {
    if (!RoomFits(multipleItems, count)) return false;
    MIXERCONTROLDETAILS details = ValueDetails(controlId, multipleItems, values);
    return mixerGetControlDetailsA(ToObject(handle), &details,
                                   MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
  }

  bool GetListTexts(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                    MixerListText* items, std::uint32_t count) override {
    if (!RoomFits(multipleItems, count)) return false;
    std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(count);
    MIXERCONTROLDETAILS details{};
    details.cbStruct = sizeof(details);
    details.dwControlID = controlId;
    details.cChannels = 1;
    details.cMultipleItems = multipleItems;
    details.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTA);
    details.paDetails = texts.data();
    if (mixerGetControlDetailsA(ToObject(handle), &details,
                                MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_LISTTEXT) != MMSYSERR_NOERROR) {
      return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      items[i].param1 = texts[i].dwParam1;
      items[i].param2 = texts[i].dwParam2;
      CopyName(items[i].name, texts[i].szName);
    }
    return true;
  }

  bool SetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t multipleItems,
                        const std::uint32_t* values, std::uint32_t count) override {
    if (!RoomFits(multipleItems, count)) return false;
    // The platform takes a non-const pointer but only reads the entries on a set.
    std::vector<std::uint32_t> entries(values, values + count);
    MIXERCONTROLDETAILS details = ValueDetails(controlId, multipleItems, entries.data());
    return mixerSetControlDetails(ToObject(handle), &details,
                                  MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
  }

 private:
  static bool MapperMixer(bool recording, std::uint32_t* mixerId) {
    DWORD preferred = WAVE_MAPPER;
    DWORD status = 0;
    const MMRESULT asked =
        recording ? waveInMessage(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                                  DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&preferred),
                                  reinterpret_cast<DWORD_PTR>(&status))
                  : waveOutMessage(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(WAVE_MAPPER)),
                                   DRVM_MAPPER_PREFERRED_GET, reinterpret_cast<DWORD_PTR>(&preferred),
                                   reinterpret_cast<DWORD_PTR>(&status));
    const UINT devices = recording ? waveInGetNumDevs() : waveOutGetNumDevs();
    if (asked != MMSYSERR_NOERROR || preferred >= devices) preferred = 0;
    if (devices == 0) return false;
    UINT id = 0;
    if (mixerGetID(reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(preferred)), &id,
                   recording ? MIXER_OBJECTF_WAVEIN : MIXER_OBJECTF_WAVEOUT) != MMSYSERR_NOERROR) {
      return false;
    }
    *mixerId = id;
    return true;
  }

  static bool QueryLine(MixerHandle handle, MIXERLINEA* info, DWORD how, MixerLine* line) {
    if (mixerGetLineInfoA(ToObject(handle), info, MIXER_OBJECTF_HMIXER | how) != MMSYSERR_NOERROR) return false;
    CopyLine(*info, line);
    return true;
  }
};

}  // namespace

MixerPort& PlatformMixerPort() {
  static WinmmMixerPort port;
  return port;
}

}  // namespace halvane
