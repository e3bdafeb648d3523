#include "engine/transfer_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine_harness.h"

namespace halvane {
namespace {

using testing_engine::Scenario;
using testing_engine::TagOf;
using testing_engine::Trace;
using test::RecordingNotices;
using Commands = std::vector<std::string>;

// The engine polls WaitIncoming each second from 0, so it sees the ringing at 3000, answers at 4500
// (Ringing polls every 100 ms after its 1000 ms pause), is in WaitHold from 5600 (1000 ms pause, AGC
// on, 100 ms preset pause), sees Hold at 6100, holds at 7100, opens the contacts at 8100 and waits for
// the second call from then on (polls every 100 ms); it sees the second call's answer at once, in
// WaitSecondResponse's polls at 10000, 11000, 12000, and Transfer at 15100.
constexpr std::uint64_t kRings = 2500;
constexpr std::uint64_t kAnswered = 4500;
constexpr std::uint64_t kWaitingForSecondCall = 8100;
constexpr std::uint64_t kSecondRings = 9500;
constexpr std::uint64_t kSecondAnswers = 12000;
constexpr std::uint64_t kTransferPressed = 15050;

const char kStartLog[] = "\n\naccess Skype successfully... protocol 5... get current user handle... \n\n=>wait for incoming call";

// How far a scenario's script goes before its own events: 1 the caller rings and is answered, 2 and
// Hold is pressed, 3 and the second call is dialled and answered, 4 and Transfer is pressed.
void Script(Scenario& s, int steps) {
  if (steps >= 1) s.Status(kRings, "1234", "RINGING"), s.Status(kAnswered, "1234", "INPROGRESS");
  if (steps >= 2) s.Hold(6050);
  if (steps >= 3) s.Status(9000, "1240", "ROUTING"), s.Status(kSecondRings, "1240", "RINGING");
  if (steps >= 3) s.Status(kSecondAnswers, "1240", "INPROGRESS");
  if (steps >= 4) s.Transfer(kTransferPressed);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// One ordinary transfer to the millisecond: the commands, the buttons, the mixer and the phase (the log's
// text of a whole cycle is the end-to-end transfer's, HalvaneE2eTest's CycleLog).
TEST(TransferEngine, FullTransferInOrderAtItsTime) {
  Scenario s;
  Script(s, 4);
  s.Status(20500, "1240", "FINISHED");  // the transfer target hangs up; seen at the 21200 poll
  // The minimise is not waited for: with no reply the new cycle still starts at once.
  s.client.override = [](const std::string& command) { return command == "#KALDU14 minimize" ? "OK" : ""; };
  s.Run(23000);
  const Commands expected = {
      "0 #KALDU1 protocol 5", "0 #KALDU2 get currentuserhandle", "0 #KALDU3 search activecalls", "0 #KALDU4 open contacts",
      "5500 #KALDU5 set AGC on", "5600 #KALDU6 get call 1234 partner_dispname",  // each party's name once
      "7100 #KALDU7 set call 1234 status onhold", "8100 #KALDU8 open contacts", "9000 #KALDU9 get call 1240 partner_dispname",
      "15100 #KALDU10 set call 1234 join_conference 1240", "15100 #KALDU11 set AGC off",
      "21200 #KALDU12 set call 1234 status finished", "21200 #KALDU13 set AGC on", "21300 #KALDU14 minimize"};
  EXPECT_EQ(s.CommandsFrom(0), expected);
  EXPECT_EQ(s.board.userHandle.Load(), "operator1");
  EXPECT_EQ(s.engine.FirstCall(), "1234");
  EXPECT_EQ(s.engine.SecondCall(), "1240");
  EXPECT_FALSE(s.board.callActive.load());
  EXPECT_FALSE(s.board.transferAllowed.load());
  const Trace buttons = {
      "0 item 1002 on",      "0 item 1003 off",     "0 item 1004 off",     "0 item 1005 off",      // CycleStart
      "5600 item 1002 on",   "5600 item 1003 off",  "5600 item 1004 off",  "5600 item 1005 off",   // WaitHold
      "6050 item 1002 off",  "6050 item 1003 on",   "6050 item 1004 on",   "6050 item 1005 on",    // Hold press
      "15200 item 1003 off", "15200 item 1004 off", "15200 item 1005 off",                         // Conference
      "21300 item 1002 on",  "21300 item 1003 off", "21300 item 1004 off", "21300 item 1005 off",  // new cycle
  };
  EXPECT_EQ(s.Only(" item "), buttons);
  EXPECT_EQ(s.desk.dialogs, std::set<WindowHandle>{Scenario::kMainWindow});
  const Trace mixer = {
      "5600 audio record MIC 32768",  "5600 audio speaker mute 0",  "5600 audio mic playback mute 1",
      "15200 audio record MIC 0",     "15200 audio speaker mute 1", "15200 audio mic playback mute 1",
      "21300 audio record MIC 32768", "21300 audio speaker mute 0", "21300 audio mic playback mute 1",
  };
  EXPECT_EQ(s.Only(" audio "), mixer);
  const Trace phases = {"0 phase at rest", "5600 phase call active", "7100 phase caller on hold",
                        "15100 phase joined", "21300 phase at rest"};
  EXPECT_EQ(s.Only(" phase "), phases);
}

// Scenarios of the cycle, each on top of the first `steps` of Script and run until `until`: the
// commands delivered from `from` on with their times, how the log ends, trace entries that must be
// among the others, the notices, and what is left.
struct Row {
  std::string name;
  int steps;
  std::function<void(Scenario&)> script;
  std::uint64_t until, from;
  Commands commands;
  std::string logTail;
  Trace seen;  // each among the trace's entries; its phases, when it names any, are all of them
  std::vector<int> notices;
  bool joined, active, allowed;  // the joined phase and the transfer preset (once each); at the end
};

std::vector<Row> ScenarioRows() {
  const auto hangUp = [](std::uint64_t at, const char* id) {
    return [at, id](Scenario& s) { s.Status(at, id, "FINISHED"); };
  };
  const char* const kHeldLog = "\n=>hold incoming call\n=>wait for placing 2nd call";
  const char* const kFinishedLog = "\n=>call transfered\n=>finished\n\n=>wait for incoming call";
  std::vector<Row> rows = {
      {"caller hangs up right after the answer", 1, hangUp(5000, "1234"), 7000, 5500,
       {"5500 #KALDU5 set AGC on", "5600 #KALDU6 set AGC on", "5700 #KALDU7 minimize"},  // no name asked of an ended call
       "\n=>answer incoming call\n=>finished\n\n=>wait for incoming call", {"0 phase at rest", "5700 phase at rest"}, {},
       false, false, false},
      {"caller hangs up while waiting for Hold", 1, hangUp(7000, "1234"), 9000, 5500,
       {"5500 #KALDU5 set AGC on", "5600 #KALDU6 get call 1234 partner_dispname"},
       "\n=>answer incoming call\n=>wait for hold button pressing\n\n=>wait for incoming call",
       {"0 phase at rest", "5600 phase call active", "7000 phase at rest"}, {}, false, false, false},
      {"held caller hangs up before a second call", 2, hangUp(9000, "1234"), 11000, 5500,
       {"5500 #KALDU5 set AGC on", "5600 #KALDU6 get call 1234 partner_dispname",
        "7100 #KALDU7 set call 1234 status onhold", "8100 #KALDU8 open contacts"},
       std::string(kHeldLog) + "\n=>1st call hangup\n\n=>wait for incoming call",
       {"0 phase at rest", "5600 phase call active", "7100 phase caller on hold", "9000 phase at rest"}, {1}, false,
       false, false},
      {"Return while Hold pauses, again with its button off, then Hold", 2,
       [](Scenario& s) {
         s.Return(6500);  // acts once the caller is held, at 8100
         s.Return(9050);  // its button is off with the caller talking: cleared, never fired later
         s.Hold(10050);
       },
       12500, kWaitingForSecondCall,
       {"8100 #KALDU8 open contacts", "8100 #KALDU9 set call 1234 status inprogress",
        "11100 #KALDU10 set call 1234 status onhold", "12100 #KALDU11 open contacts"},
       std::string(kHeldLog) + "\n=>Return to caller\n=>1st call resume\n=>wait for hold button pressing" + kHeldLog,
       {"8200 item 1002 on", "8200 item 1003 off", "8200 item 1004 off", "8200 item 1005 off", "0 phase at rest",
        "5600 phase call active", "7100 phase caller on hold", "8200 phase call active", "11100 phase caller on hold"},
       {}, false, true, false},
      // Two callers ring, the later is answered and the earlier gives up: the answered one is the caller,
      // also after a pending redial (it still rings). A call that never rang here is no answer, and no party.
      {"whichever ringing call is answered is the caller", 0,
       [](Scenario& s) {
         s.Status(kRings, "1234", "RINGING");
         s.Status(2600, "1240", "RINGING");
         s.Status(3200, "1240", "REDIAL_PENDING");
         s.Status(3500, "99", "INPROGRESS");
         s.Status(kAnswered, "1240", "INPROGRESS");
         s.Status(4600, "1234", "MISSED");
         s.Hold(6050);
       },
       9000, 1,
       {"5500 #KALDU5 set AGC on", "5600 #KALDU6 get call 1240 partner_dispname",
        "7100 #KALDU7 set call 1240 status onhold", "8100 #KALDU8 open contacts"},
       std::string(kStartLog) + "\n=>incoming call rings\n=>answer incoming call\n=>wait for hold button pressing" +
           kHeldLog,
       {}, {}, false, true, false},  // the caller held, 99 still talking
      // The client refuses the join: nothing was joined, so the operator keeps the sound and the caller
      // stays held; the second party's end then waits for another dial, and Return takes the caller back.
      {"join refused", 4,
       [](Scenario& s) {
         s.client.override = [](const std::string& c) {
           return c.find("join_conference") != std::string::npos ? TagOf(c) + "ERROR 72 Cannot create conference" : "";
         };
         s.Status(17000, "1240", "FINISHED");
         s.Return(18050);
       },
       20000, kTransferPressed,
       {"15100 #KALDU10 set call 1234 join_conference 1240", "18100 #KALDU11 set call 1234 status inprogress"},
       "\n=>call transfered\n=>join refused by Skype\n=>wait for placing 2nd call\n=>Return to caller"
       "\n=>1st call resume\n=>wait for hold button pressing",
       {}, {2}, false, true, false},
      // The client is gone when Transfer is pressed: nothing is muted and Transfer may be pressed again.
      {"join could not be sent", 4, [](Scenario& s) { s.At(15000, [&s] { s.board.apiWindow.store(0); }); }, 17000,
       15000, {}, "\n=>call transfered\n=>wait for transfer button pressing",
       {"15100 unsent #KALDU10 set call 1234 join_conference 1240"}, {}, false, true, true},
      // The client refuses the hold: the caller still talks, so the engine waits for Hold again.
      {"hold refused", 2,
       [](Scenario& s) {
         s.client.override = [](const std::string& c) {
           return c.find("onhold") != std::string::npos ? TagOf(c) + "ERROR 22 Cannot hold this call at the moment" : "";
         };
       },
       9000, 6000, {"7100 #KALDU7 set call 1234 status onhold"},
       "\n=>hold incoming call\n=>wait for hold button pressing",
       {"7100 item 1002 on", "0 phase at rest", "5600 phase call active", "7100 phase call active"}, {}, false, true, false},
      // The client restarts during the conference, signed in as another user: the handle again, then the
      // two calls' statuses; both unknown, so the conference is over and the operator's sound comes back.
      {"client restart during the conference", 4,
       [](Scenario& s) {
         s.At(17500, [&s] { s.board.reconnectNeeded.store(true); });
         s.client.override = [&s](const std::string& c) {
           if (s.clock.now() < 17000) return std::string();
           if (c.find(" get call ") != std::string::npos) return TagOf(c) + "ERROR 12 Unknown call";
           if (c.find(" protocol ") != std::string::npos) return TagOf(c) + "PROTOCOL 3";  // the version it speaks
           return c.find(" get currentuserhandle") != std::string::npos ? TagOf(c) + "CURRENTUSERHANDLE operator2" : "";
         };
       },
       20000, 17000,
       {"18200 #KALDU12 protocol 5", "18200 #KALDU13 get currentuserhandle", "18200 #KALDU14 search activecalls",
        "18200 #KALDU15 get call 1234 status", "18200 #KALDU16 get call 1240 status", "18200 #KALDU17 set AGC on",
        "18300 #KALDU18 minimize"},
       "re-connect Skype\n\n\naccess Skype successfully... protocol 3... get current user handle... \n=>finished"
       "\n\n=>wait for incoming call",
       {"18300 audio record MIC 32768"}, {}, true, false, false},
      // The held caller hangs up while the second call rings: the engine ends the dial and the cycle.
      {"held caller hangs up while the dial rings", 2,
       [](Scenario& s) { s.Status(9000, "1240", "RINGING"), s.Status(10500, "1234", "FINISHED"); }, 12000,
       kWaitingForSecondCall + 1,
       {"9000 #KALDU9 get call 1240 partner_dispname", "11000 #KALDU10 set call 1240 status finished",
        "11000 #KALDU11 set AGC on", "11100 #KALDU12 minimize"},
       "\n=>finished\n\n=>wait for incoming call", {}, {1}, false, false, false},
      // Blind Transfer pressed while the second call rings joins as soon as its answer is seen; Transfer
      // pressed at that moment is dropped, and so are requests from an earlier moment of the cycle.
      {"Blind Transfer while the dial rings", 3, [](Scenario& s) { s.BlindTransfer(kSecondRings + 100); }, 16000,
       kSecondAnswers, {"12000 #KALDU10 set call 1234 join_conference 1240", "12000 #KALDU11 set AGC off"},
       "\n=>call transfered", {}, {}, true, true, true},
      {"Transfer while the dial rings, Blind Transfer before Hold", 3,
       [](Scenario& s) { s.Transfer(kSecondRings + 100), s.BlindTransfer(5800); }, 16000, kSecondAnswers, {},
       "\n=>wait for transfer button pressing", {}, {}, false, true, true},
      {"Transfer as the second party hangs up, then a new dial", 3,
       [](Scenario& s) {
         s.Transfer(12950);
         s.Status(12960, "1240", "FINISHED");  // both seen at 13000
         s.Status(13500, "1246", "ROUTING");
         s.Status(14000, "1246", "INPROGRESS");
       },
       16000, kSecondAnswers, {"13500 #KALDU10 get call 1246 partner_dispname"},
       "\n=>wait for transfer button pressing", {}, {}, false, true, true},
      // Return while the second call rings or talks (the operator's, or closing Halvane with a caller on
      // hold): that call is hung up, the caller resumed, and Halvane waits for Hold again.
      {"Return while the dial rings", 3, [](Scenario& s) { s.Return(kSecondRings + 100); }, 17000, kSecondRings + 100,
       {"10000 #KALDU10 set call 1240 status finished", "10000 #KALDU11 set call 1234 status inprogress"},
       "\n=>Return to caller\n=>1st call resume\n=>wait for hold button pressing", {}, {}, false, true, false},
      {"Return while the second party talks", 3, [](Scenario& s) { s.Return(13050); }, 17000, 13050,
       {"13100 #KALDU10 set call 1240 status finished", "13100 #KALDU11 set call 1234 status inprogress"},
       "\n=>Return to caller\n=>1st call resume\n=>wait for hold button pressing", {}, {}, false, true, false},
      {"second party hangs up while waiting for Transfer", 3, hangUp(13000, "1240"), 14000, kSecondAnswers, {},
       "\n=>wait for transfer button pressing\n=>wait for placing 2nd call",
       {"13000 log \n=>wait for placing 2nd call"}, {}, false, true, false},
      // A third call rings during the conference: refused every second while it rings; its end (reported
      // in the tagged reply and again untagged) leaves the conference up; the first caller's hang-up ends it.
      {"further call during the conference", 4,
       [](Scenario& s) {
         s.Status(16500, "77", "RINGING");
         s.client.override = [&s, refusals = 0](const std::string& command) mutable -> std::string {
           if (command.find(" set call 77 status finished") == std::string::npos) return std::string();
           if (++refusals < 3) return TagOf(command) + "ERROR 555 not yet";
           s.Status(s.clock.now() + 10, "77", "FINISHED");
           return TagOf(command) + "CALL 77 STATUS FINISHED";
         };
         s.Status(23500, "1234", "FINISHED");
       },
       26000, 15100,
       {"15100 #KALDU10 set call 1234 join_conference 1240", "15100 #KALDU11 set AGC off",
        "17200 #KALDU12 set call 77 status finished", "18200 #KALDU13 set call 77 status finished",
        "19200 #KALDU14 set call 77 status finished", "24200 #KALDU15 set call 1240 status finished",
        "24200 #KALDU16 set AGC on", "24300 #KALDU17 minimize"},
       "\n=>call transfered\n=>refuse another call\n=>refuse another call\n=>refuse another call\n=>finished"
       "\n\n=>wait for incoming call", {}, {}, true, false, false},
      {"the caller ends the conference", 4, hangUp(17000, "1234"), 19000, 17200,
       {"17200 #KALDU12 set call 1240 status finished", "17200 #KALDU13 set AGC on", "17300 #KALDU14 minimize"},
       kFinishedLog, {}, {}, true, false, false},
      {"the second party ends the conference", 4, hangUp(17000, "1240"), 19000, 17200,
       {"17200 #KALDU12 set call 1234 status finished", "17200 #KALDU13 set AGC on", "17300 #KALDU14 minimize"},
       kFinishedLog, {}, {}, true, false, false},
      {"re-login while waiting for an incoming call", 0,
       [](Scenario& s) {
         s.At(2500, [&s] { s.board.apiWindow.store(0), s.board.reconnectNeeded.store(true); });
         s.At(4250, [&s] { s.board.apiWindow.store(9); });
       },
       6000, 0,
       {"0 #KALDU1 protocol 5", "0 #KALDU2 get currentuserhandle", "0 #KALDU3 search activecalls",
        "0 #KALDU4 open contacts", "4300 #KALDU5 protocol 5",  // ConnectToClient polls the attach every 100 ms
        "4300 #KALDU6 get currentuserhandle", "4300 #KALDU7 search activecalls"},
       std::string(kStartLog) + "re-connect Skype\n" + kStartLog, {}, {}, false, false, false},
      // A reply is read for the command it answers: an unknown call's error does not end the next call,
      // whose reply does not come.
      {"a reply is read for its own command", 0,
       [](Scenario& s) {
         s.Status(kRings, "1234", "RINGING");
         s.Status(kRings, "1240", "RINGING");
         s.At(3500, [&s] { s.board.reconnectNeeded.store(true); });
         s.client.override = [](const std::string& cmd) {
           return cmd.find(" get call 1234") != std::string::npos ? TagOf(cmd) + "ERROR 12 Unknown call"
                  : cmd.find(" get call 1240") != std::string::npos ? "CALL 1240 DURATION 1" : "";
         };
         s.Status(9000, "1240", "INPROGRESS");  // 1240 answered
       },
       30000, 9000,
       {"9000 #KALDU10 get call 1240 status", "15000 #KALDU11 get call 1240 status", "20000 #KALDU12 set AGC on",
        "20100 #KALDU13 get call 1240 partner_dispname", "25200 #KALDU14 get call 1240 status"},
       "\n=>answer incoming call\n=>no reply from Skype, going on\n=>no reply from Skype, going on"
       "\n=>wait for hold button pressing", {}, {}, false, true, false},
      // Each command waits out its bound, then the engine goes on as after a reply: the Hold pressed
      // during the first wait is seen when WaitHold starts at 15600.
      {"the client stops answering", 2, [](Scenario& s) { s.At(5000, [&s] { s.client.silent = true; }); }, 23000,
       5500,
       {"5500 #KALDU5 set AGC on", "10600 #KALDU6 get call 1234 partner_dispname",
        "16600 #KALDU7 set call 1234 status onhold", "22600 #KALDU8 open contacts"},
       "\n=>answer incoming call\n=>no reply from Skype, going on\n=>no reply from Skype, going on"
       "\n=>wait for hold button pressing\n=>hold incoming call\n=>no reply from Skype, going on", {}, {}, false, true,
       false},
      // The caller taken off hold in the client while the second call rings is no answer of the second
      // party: the operator is back with the caller; Transfer is not accepted.
      {"caller resumed in the client while the dial rings", 2,
       [](Scenario& s) {
         s.Status(9000, "1240", "RINGING");
         s.Status(10500, "1234", "INPROGRESS");
         s.Transfer(11500);
         s.Status(13000, "1234", "FINISHED");  // the dial, parked meanwhile, is still up: Halvane ends it
       },
       14000, kWaitingForSecondCall + 1,
       {"9000 #KALDU9 get call 1240 partner_dispname", "13000 #KALDU10 set call 1240 status finished"},
       "2nd call response\n=>1st call resume\n=>wait for hold button pressing\n\n=>wait for incoming call", {}, {},
       false, false, false},
  };
  // The only ringing call ends unanswered, however the client puts it: the engine logs the answer step
  // anyway, sends nothing and starts over, and the next call answered is the caller.
  for (const char* word : {"MISSED", "REFUSED", "FAILED", "FINISHED"}) {
    rows.push_back({std::string("the only ringing call ends: ") + word, 0,
                    [word](Scenario& s) {
                      s.Status(kRings, "1234", "RINGING"), s.Status(kAnswered, "1234", word);
                      s.Status(6000, "1250", "RINGING"), s.Status(7000, "1250", "INPROGRESS");
                    },
                    9000, 1, {"8500 #KALDU5 set AGC on", "8600 #KALDU6 get call 1250 partner_dispname"},
                    std::string(kStartLog) + "\n=>incoming call rings\n=>answer incoming call\n\n=>wait for incoming call"
                        "\n=>incoming call rings\n=>answer incoming call\n=>wait for hold button pressing",
                    {}, {}, false, true, false});
  }
  // The second call's end before anyone answers, however the client reports it (the operator's own
  // hang-up of the dial included): the caller stays on hold and Halvane waits for a new dial.
  for (const char* word : {"REFUSED", "MISSED", "FAILED", "BUSY", "CANCELLED", "FINISHED", "VM_SENT", "VM_CANCELLED",
                           "VM_FAILED", "TRANSFERRED"}) {
    rows.push_back({std::string("second call ends unanswered: ") + word, 2,
                    [word](Scenario& s) {
                      s.Status(9000, "1240", "ROUTING");
                      s.Status(9600, "1240", "REDIAL_PENDING");  // neither an answer nor an end
                      s.Status(9700, "1240", "VM_PLAYING_GREETING");
                      s.Status(10500, "1240", word);
                    },
                    12000, kWaitingForSecondCall + 1,
                    {"9000 #KALDU9 get call 1240 partner_dispname", "11000 #KALDU10 btn_released no"},
                    "\n=>wait for 2nd call response\n=>wait for placing 2nd call", {}, {0}, false, true, false});
  }
  return rows;
}

TEST(TransferEngine, Scenarios) {
  for (const Row& row : ScenarioRows()) {
    SCOPED_TRACE(row.name);
    Scenario s;
    RecordingNotices notices;
    s.engine.SetNotices(notices);
    Script(s, row.steps);
    row.script(s);
    s.Run(row.until);
    EXPECT_EQ(s.CommandsFrom(row.from), row.commands);
    EXPECT_TRUE(EndsWith(s.log.Text(), row.logTail)) << s.log.Text();
    Trace phases;
    for (const std::string& entry : row.seen) {
      EXPECT_EQ(std::count(s.trace.begin(), s.trace.end(), entry), 1) << entry;
      if (entry.find(" phase ") != std::string::npos) phases.push_back(entry);
    }
    EXPECT_EQ(phases.empty() ? phases : s.Only(" phase "), phases);
    EXPECT_EQ(notices.got, row.notices);
    EXPECT_EQ(s.Only(" phase joined").size() + s.Only(" audio record MIC 0").size(), row.joined ? 2U : 0U);
    EXPECT_EQ(s.board.callActive.load(), row.active);
    EXPECT_EQ(s.board.transferAllowed.load(), row.allowed);
    EXPECT_FALSE(s.board.holdRequest.load() || s.board.transferRequest.load() || s.board.returnRequest.load() ||
                 s.board.blindTransferRequest.load());
  }
}

// The far end's name once: the handle when the client has no display name; after an error (the call
// gone) nothing more is asked.
TEST(TransferEngine, NameAskedOnceWithTheHandleWhenNoDisplayName) {
  for (const std::string reply : {"CALL 1234 PARTNER_DISPNAME ", "ERROR 12 Unknown call"}) {
    Scenario s;
    Script(s, 2);
    s.client.override = [reply](const std::string& c) {
      if (c.find(" partner_") == std::string::npos) return std::string();
      return TagOf(c) + (EndsWith(c, "handle") ? "CALL 1234 PARTNER_HANDLE anna.berg" : reply);
    };
    s.Run(9000);
    EXPECT_EQ(s.Only(" partner_").size(), reply[0] == 'C' ? 2U : 1U) << reply;
    EXPECT_EQ(s.board.names.NameOf("1234"), reply[0] == 'C' ? "anna.berg" : "") << reply;
  }
}

// Started, or the client found again, while calls are up (each asked about once): a ringing call rings; a
// talking or held one is the caller; a held caller and a talking call are the caller and the second party.
// A call Halvane already knew to be no call of its own stays so. Hold (Return for a held caller) acts.
TEST(TransferEngine, CallsUpAtConnectAreTakenOn) {
  struct Case {  // the calls up; when Halvane connects (0: at start-up); the caller, the second party, what Hold or Return sent
    const char *name; std::map<std::string, std::string> live; std::uint64_t reconnectAt; const char *first, *second, *acted;
  };
  const Case cases[] = {
      {"ringing, then answered", {{"12", "RINGING"}}, 0, "12", "", "set call 12 status onhold"},
      {"talking", {{"12", "INPROGRESS"}}, 0, "12", "", "set call 12 status onhold"},
      {"held", {{"12", "LOCALHOLD"}}, 0, "12", "", "set call 12 status inprogress"},
      {"held and talking", {{"12", "LOCALHOLD"}, {"13", "INPROGRESS"}}, 0, "12", "13", "set call 13 status finished"},
      {"talking, found again", {{"12", "INPROGRESS"}}, 1500, "12", "", "set call 12 status onhold"},
      {"a stranger's, known before", {{"99", "INPROGRESS"}}, 1500, "", "", " set call "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario s;
    std::string ids;
    for (const auto& call : c.live) ids += (ids.empty() ? "" : ", ") + call.first;
    s.client.override = [&s, &c, ids](const std::string& cmd) -> std::string {
      if (EndsWith(cmd, " search activecalls")) return TagOf(cmd) + "CALLS " + (s.clock.now() >= c.reconnectAt ? ids : "");
      const std::size_t at = cmd.find(" get call ") + 10;
      if (at < 10 || !EndsWith(cmd, " status")) return "";
      const std::string id = cmd.substr(at, cmd.rfind(' ') - at);
      return c.live.count(id) != 0 ? TagOf(cmd) + "CALL " + id + " STATUS " + c.live.at(id) : "";
    };
    if (c.reconnectAt != 0) s.At(c.reconnectAt, [&s] { s.board.reconnectNeeded.store(true); });
    if (c.first[0] == '\0') s.Status(500, "99", "INPROGRESS");
    if (c.live.begin()->second == "RINGING") s.Status(3000, "12", "INPROGRESS");
    EndsWith(c.acted, "inprogress") || c.second[0] != '\0' ? s.Return(6000) : s.Hold(6000);
    s.Run(9000);
    EXPECT_EQ(s.engine.FirstCall(), c.first);
    EXPECT_EQ(s.Only(std::string("get call ") + c.second + " partner_dispname").size(), c.second[0] != '\0' ? 1U : 0U);
    EXPECT_EQ(s.Only(c.acted).size(), c.first[0] != '\0' ? 1U : 0U);
    for (const auto& call : c.live) EXPECT_EQ(s.Only(" get call " + call.first + " status").size(), 1U) << "asked once";
  }
}

// A re-login reported while a call is handled is not acted on: the next WaitIncoming discards it.
// The client back while a call rings: the user handle again, then the ringing call's status; the
// client's error (it restarted and forgot the call) ends it, and the cycle starts over.
// Only the client's errors for an unknown call end it; another error, or no reply, leaves it unknown:
// it is asked about again a second later (five times at most) and still followed.
TEST(TransferEngine, ReconnectOutsideWaitIncomingAsksForTheFollowedCalls) {
  const struct {
    const char* reply;
    std::size_t asked;
  } cases[] = {{"ERROR 12 Unknown call", 1}, {"ERROR 11 Invalid call id", 1},
               {"ERROR 20 Unknown call", 1}, {"ERROR 9901 Internal error", 6},
               {"", 6}};  // no reply: each wait takes 5000 ms
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    Scenario s;
    s.Status(kRings, "1234", "RINGING");
    s.At(3500, [&] { s.board.reconnectNeeded.store(true); });
    const std::string reply = c.reply;
    s.client.override = [reply](const std::string& cmd) {
      return cmd.find(" get call ") == std::string::npos ? "" : reply.empty() ? "CALL 1234 DURATION 1" : TagOf(cmd) + reply;
    };
    s.Status(16000, "1234", "INPROGRESS");
    s.Run(42000);
    const Commands sent = s.CommandsFrom(1);
    const auto asked = std::count_if(sent.begin(), sent.end(), [](const std::string& command) { return EndsWith(command, " get call 1234 status"); });
    EXPECT_EQ(static_cast<std::size_t>(asked), c.asked);
    const std::string reconnected = std::string(kStartLog) + "\n=>incoming call rings" +
                                    "re-connect Skype\n\n\naccess Skype successfully... protocol 5... get current user handle... ";
    if (c.asked == 1) {
      EXPECT_EQ(s.log.Text(), reconnected + "\n=>answer incoming call\n\n=>wait for incoming call");
    } else {
      EXPECT_NE(s.log.Text().find("\n=>wait for hold button pressing"), std::string::npos) << s.log.Text();
    }
  }
}

// How long a command holds the engine, by how the client treats it.
TEST(TransferEngine, SendAndWaitIsBounded) {
  const struct {
    const char* name;
    bool attached, silent;
    const char* lineAt3000;
    std::uint64_t returnsAt;  // at 5000 having logged that no reply came
  } cases[] = {
      {"reply at once", true, false, "", 0},
      {"late reply", true, true, "#KALDU9 AGC ON", 3000},
      {"another command's reply", true, true, "#KALDU8 AGC ON", 5000},
      {"no reply", true, true, "", 5000},
      {"not delivered", false, true, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scenario s;
    s.board.apiWindow.store(c.attached ? 7 : 0);
    s.client.silent = c.silent;
    s.Line(3000, c.lineAt3000);
    s.engine.SendAndWait("#KALDU9 set AGC on");
    EXPECT_EQ(s.clock.now(), c.returnsAt);
    EXPECT_EQ(s.log.Text(), c.returnsAt == 5000 ? "\n=>no reply from Skype, going on" : "");
  }
}

// Each handler on a fresh board, for every combination of the two flags that decide acceptance: the
// requests it leaves (H hold, T transfer, R return, B blind transfer). Only an accepted Hold touches the
// buttons (its order is FullTransferInOrderAtItsTime's).
TEST(RequestHandlers, ActOnlyWhenTheirConditionHolds) {
  const struct {
    char handler;
    bool callActive, transferAllowed;
    const char* want;
  } rows[] = {
      {'H', false, false, "...."}, {'H', false, true, "...."}, {'H', true, false, "H..."},
      {'T', false, false, "...."}, {'T', false, true, "...."}, {'T', true, false, "...."}, {'T', true, true, ".T.."},
      {'R', false, true, "...."},  {'R', true, false, "..R."},
      {'B', false, true, "...."},  {'B', true, false, "...B"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(1, row.handler) + (row.callActive ? " active" : "") + (row.transferAllowed ? " allowed" : ""));
    Scenario s;
    CallBoard& board = s.board;
    board.callActive.store(row.callActive);
    board.transferAllowed.store(row.transferAllowed);
    if (row.handler == 'H') OnHold(board, s.desk);
    if (row.handler == 'T') OnTransfer(board);
    if (row.handler == 'R') OnReturn(board);
    if (row.handler == 'B') OnBlindTransfer(board);
    const std::string got = {board.holdRequest.load() ? 'H' : '.', board.transferRequest.load() ? 'T' : '.',
                             board.returnRequest.load() ? 'R' : '.', board.blindTransferRequest.load() ? 'B' : '.'};
    EXPECT_EQ(got, row.want);
    EXPECT_EQ(s.Only(" item ").size(), got == "H..." ? 4U : 0U);
  }
}

// Stopped from another thread while it waits for the client to attach.
TEST(TransferEngine, RequestStopEndsTheRunFromAnotherThread) {
  class YieldingClock final : public Clock {
   public:
    void Sleep(std::uint32_t milliseconds) override {
      now_ += milliseconds;
      std::this_thread::yield();
    }
    std::uint64_t NowMs() override { return now_.load(); }
    std::atomic<std::uint64_t> now_{0};
  };
  Scenario s;
  s.board.apiWindow.store(0);
  YieldingClock clock;
  TransferEngine engine(s.board, s.client, clock, s.desk, s.desk, s.log);
  std::thread worker([&] { engine.RunTransferEngine(); });
  while (clock.NowMs() < 1000) std::this_thread::yield();
  engine.RequestStop();
  worker.join();
  EXPECT_EQ(engine.State(), EngineState::kStopped);
  EXPECT_TRUE(s.client.sent.empty());
  EXPECT_TRUE(s.log.Text().empty());
}

}  // namespace
}  // namespace halvane
