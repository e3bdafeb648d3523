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
  std::string displayName;       // the far end's display name (any text); empty: its handle is shown
};

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
  };

  CallModel();
  explicit CallModel(Options options);

  // One command as received (tag optional, command words in any letter case). Records it in the
  // transcript and answers with the lines the client sends back.
  Lines HandleCommand(std::string_view command);

  // Things that happen outside the API: each returns the notifications they cause. A call id that is
  // unknown, or a call in a state where the event cannot happen, gives no lines.
  Lines IncomingCall(std::string_view from, std::string* newId = nullptr);  // RINGING
  Lines OperatorDials(std::string_view to, std::string* newId = nullptr);   // ROUTING, RINGING
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
  // The far end of call `id` shows itself as `name` (GET CALL <id> PARTNER_DISPNAME); false when unknown.
  bool NameCall(std::string_view id, std::string name);
  // The client restarts: every call is forgotten (their ids are then unknown); nothing is reported.
  void Restart();
  // The next join, or the next hold, is answered with an error and changes nothing.
  void RefuseNextJoin() { refuseJoin_ = true; }
  void RefuseNextHold() { refuseHold_ = true; }

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
  std::string HoldWord() const { return options_.holdAsLocalHold ? "LOCALHOLD" : "ONHOLD"; }

  Options options_;
  std::vector<std::string> commands_;
  std::map<std::string, Call, std::less<>> calls_;
  std::uint64_t nextCallId_;
  std::uint64_t nextConferenceId_;
  bool agc_ = true;
  bool refuseJoin_ = false;
  bool refuseHold_ = false;
};

// Ended calls cannot change any more.
bool IsEnded(const Call& call);
// A call that rings (incoming, or outgoing still being set up).
bool IsRinging(const Call& call);

}  // namespace halvane::sim
