#pragma once
// The client emulator's brain: what a client does with one command text, and what it reports when the
// people at either end of a call act. It knows nothing of windows or transport; every operation returns
// the lines the client would send back, in the order it would send them.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace halvane::sim {

// The lines the client sends back for one event, in order: notifications (untagged) and, for a
// command, exactly one tagged reply.
using Lines = std::vector<std::string>;

enum class Direction { Incoming, Outgoing };

struct Call {
  std::string id;
  std::string peer;
  Direction direction = Direction::Incoming;
  std::string status;  // the last status word reported for it
  bool held = false;   // held by us (LOCALHOLD/ONHOLD)
  std::uint64_t conference = 0;  // the conference it was joined to; 0 for none
  std::uint64_t duration = 0;    // seconds talked, as last reported
  std::string displayName;       // the far end's display name (any text); empty: its handle is shown
};

// The newest protocol the client speaks (PROTOCOL n is answered with the lower of n and this).
inline constexpr int kNewestProtocol = 5;

class CallModel {
 public:
  struct Options {
    std::string userHandle = "operator1";
    // Newer clients report a hold as LOCALHOLD, older ones as ONHOLD.
    bool holdAsLocalHold = true;
    // The real client sends the notifications a command causes before its tagged reply; the other
    // order is legal too, and the program must cope with both.
    bool replyBeforeNotifications = false;
    std::uint64_t firstCallId = 1234;
    std::uint64_t callIdStep = 6;
    std::uint64_t firstConferenceId = 1;
    // The protocol spoken before a PROTOCOL command (a real client speaks 1 until asked).
    int protocol = kNewestProtocol;
    // Push what a client pushes about a talking call: VIDEO_STATUS and VAA_INPUT_STATUS when it starts,
    // DURATION each Tick (every second).
    bool pushProperties = false;
  };

  CallModel();
  explicit CallModel(Options options);

  // One command as received (tag optional, command words in any letter case). Records it in the
  // transcript and answers with the lines the client sends back.
  Lines HandleCommand(std::string_view command);

  // Things that happen outside the API: each returns the notifications they cause. A call id that is
  // unknown, or a call in a state where the event cannot happen, gives no lines.
  Lines IncomingCall(std::string_view from, std::string* newId = nullptr);  // RINGING
  // ROUTING, RINGING; the call talking is held by the client itself (its hold line first, or after
  // ROUTING when `holdAfterRouting`).
  Lines OperatorDials(std::string_view to, std::string* newId = nullptr, bool holdAfterRouting = false);
  Lines OperatorAnswers(std::string_view id);  // incoming RINGING -> INPROGRESS; the call talking is held
  Lines OperatorHangsUp(std::string_view id);                               // any live call -> FINISHED
  Lines OperatorCancels(std::string_view id);                               // outgoing ringing -> CANCELLED
  Lines OperatorHolds(std::string_view id);                                 // INPROGRESS -> hold word
  Lines OperatorResumes(std::string_view id);                               // held -> INPROGRESS
  Lines FarEndAnswers(std::string_view id);                                 // outgoing RINGING -> INPROGRESS
  Lines FarEndRefuses(std::string_view id);                                 // ringing -> REFUSED
  Lines FarEndBusy(std::string_view id);                                    // ringing -> BUSY
  Lines Missed(std::string_view id);                                        // ringing -> MISSED
  Lines FarEndFails(std::string_view id, int reason);                       // FAILUREREASON n, FAILED
  Lines FarEndHangsUp(std::string_view id);                                 // live call -> FINISHED
  // The operator goes to another call in the client: the call talking is held, then `id` resumed.
  Lines OperatorSwitchesTo(std::string_view id);
  // The far end's voicemail takes an outgoing ringing call (greeting, then recording); it goes on
  // until someone hangs up, which closes it with VM_SENT.
  Lines VoicemailTakes(std::string_view id);
  Lines RedialPending(std::string_view id);  // outgoing ringing -> REDIAL_PENDING, ROUTING again

  // --- The real client's sequences (dials: UNPLACED, ROUTING, ROUTING or EARLYMEDIA for a phone
  // number, RINGING; an incoming call's CONF_ID 0 before its RINGING; a hang-up of a ringing dial:
  // CANCELLED, said again after the next command's reply; of a voicemail: VM_UPLOADING, VM_SENT) ---
  Lines FarEndHolds(std::string_view id);      // talking -> REMOTEHOLD (ONHOLD under protocol 1)
  Lines FarEndResumes(std::string_view id);    // held by the far end -> INPROGRESS
  Lines NumberRejects(std::string_view id);    // a phone number's dial -> WAITING_REDIAL_COMMAND
  Lines ClientTransfers(std::string_view id);  // TRANSFERRING, TRANSFERRED
  Lines SignOut();                             // USERSTATUS LOGGEDOUT; every call ends with it
  Lines Tick();                                // a second passed: DURATION of each talking call
  void SetPushProperties(bool push) { options_.pushProperties = push; }
  // A call the client reports talking that never rang: reported through another program's use.
  Lines TalkingStranger(std::string* newId = nullptr);
  // The far end of call `id` shows itself as `name` (GET CALL <id> PARTNER_DISPNAME); false when unknown.
  bool NameCall(std::string_view id, std::string name);
  // The client restarts: every call is forgotten (their ids are then unknown); nothing is reported.
  void Restart();
  // The next join, or the next hold, is answered with an error and changes nothing.
  void RefuseNextJoin() { refuseJoin_ = true; }
  void RefuseNextHold() { refuseHold_ = true; }
  // The next command's reply is never sent, or is held back until TakeLateReplies.
  void LoseNextReply() { loseReply_ = true; }
  void DelayNextReply() { delayReply_ = true; }
  Lines TakeLateReplies();

  // Every command received, as received, oldest first.
  const std::vector<std::string>& Commands() const { return commands_; }
  // The call, or null when the id is unknown.
  const Call* FindCall(std::string_view id) const;
  const std::map<std::string, Call, std::less<>>& Calls() const { return calls_; }
  bool Agc() const { return agc_; }
  const Options& options() const { return options_; }

 private:
  Lines Command(const std::string& tag, std::string_view words);
  Lines SetCall(const std::string& tag, std::string_view rest);
  Lines ChangeStatus(const std::string& tag, Call& call, const std::string& wanted);
  Lines Join(const std::string& tag, Call& first, std::string_view secondId);
  Lines HoldOthers(const Call& except);
  // GET CALL <id> PARTNER_HANDLE | PARTNER_DISPNAME; empty for any other property.
  Lines CallProperty(const std::string& tag, std::string_view id, const std::string& property);
  // SEARCH ACTIVECALLS: "CALLS 1234, 1240", "CALLS " when none.
  Lines SearchActiveCalls(const std::string& tag) const;
  Lines Reply(const std::string& tag, const std::string& text, Lines notifications) const;
  static Lines Error(const std::string& tag, int code, std::string_view text);
  Call* Find(std::string_view id);
  std::string NewCall(std::string_view peer, Direction direction);
  // Sets the call's status and returns its status line.
  static std::string Status(Call& call, const std::string& word);
  std::string HoldWord() const { return options_.holdAsLocalHold && protocol_ >= 2 ? "LOCALHOLD" : "ONHOLD"; }
  Lines Placing(Call& call);
  Lines Talking(Call& call, Lines lines);
  Lines EndingOf(Call& call);
  static Lines UnknownCall(const std::string& tag, std::string_view id, int code);
  Lines Protocol(const std::string& tag, std::string_view asked);

  Options options_;
  std::vector<std::string> commands_;
  std::map<std::string, Call, std::less<>> calls_;
  std::uint64_t nextCallId_;
  std::uint64_t nextConferenceId_;
  bool agc_ = true;
  bool refuseJoin_ = false;
  bool refuseHold_ = false;
  int protocol_ = options_.protocol;
  std::string repeatCancelled_;  // a dial whose CANCELLED is said again after the next reply
  bool loseReply_ = false;
  bool delayReply_ = false;
  Lines late_;
};

// A command as the program's older tests know it: the number of a numbered tag left out ("#KALDU17 set
// AGC on" reads "#KALDU set AGC on"); any other text unchanged.
std::string WithoutTagNumber(std::string_view command);

// Ended calls cannot change any more.
bool IsEnded(const Call& call);
// A call that rings (incoming, or outgoing still being set up).
bool IsRinging(const Call& call);

}  // namespace halvane::sim
