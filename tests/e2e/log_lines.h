#pragma once
// The session log's lines as Halvane writes them, written out here once for every end-to-end test, the
// drivers and the measuring program (LF line ends: compare with WithoutCr of the log). A line's
// leading newlines are part of it: "\n\n=>wait for incoming call" is the wait that begins a cycle.

namespace halvane::e2e::logline {

inline constexpr char kAccess[] = "\n\naccess Skype successfully... ";
// The whole start of a session with a client that speaks protocol 5, up to the wait for a call.
inline constexpr char kStarted[] =
    "\n\naccess Skype successfully... protocol 5... get current user handle... \n\n=>wait for incoming call";
inline constexpr char kWaitIncoming[] = "\n\n=>wait for incoming call";
inline constexpr char kRings[] = "\n=>incoming call rings";
inline constexpr char kAnswer[] = "\n=>answer incoming call";
inline constexpr char kWaitHold[] = "\n=>wait for hold button pressing";
inline constexpr char kHold[] = "\n=>hold incoming call";
inline constexpr char kWaitSecondCall[] = "\n=>wait for placing 2nd call";
inline constexpr char kWaitSecondResponse[] = "\n=>wait for 2nd call response";
inline constexpr char kWaitTransfer[] = "\n=>wait for transfer button pressing";
inline constexpr char kTransferred[] = "\n=>call transfered";
inline constexpr char kRefuseAnother[] = "\n=>refuse another call";
inline constexpr char kFinished[] = "\n=>finished";
inline constexpr char kResume[] = "\n=>1st call resume";
inline constexpr char kFirstHangUp[] = "\n=>1st call hangup";
inline constexpr char kReturn[] = "\n=>Return to caller";
inline constexpr char kJoinRefused[] = "\n=>join refused by Skype";
inline constexpr char kNoReply[] = "\n=>no reply from Skype, going on";
inline constexpr char kReLogin[] = "\nSkype re-start/re-login\n";
inline constexpr char kReconnect[] = "re-connect Skype\n";
inline constexpr char kCommandLate[] = "!!! Skype did not take a command in time\n";
inline constexpr char kNotDelivered[] = "!!! Skype was not responding; commands not delivered: ";
inline constexpr char kLookingAgain[] = "!!! Skype not attached, looking for it again\n";
// The audio presets' diagnostics on Wine: no microphone line; no mixer at all.
inline constexpr char kSelectMicFailed[] = "\nSelect Mic failed\n";
inline constexpr char kInMixerFailed[] = "SetInMixerDevice failed\n";

}  // namespace halvane::e2e::logline
