#include "sim/call_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace halvane::sim {
namespace {

struct CommandCase {
  const char* command;
  Lines expected;
};

// Commands that need no call (CALL places one): tag echoed as given, command words in any case, errors
// tagged too; each recorded as received.
TEST(CallModelTest, AnswersEachCommandWithItsReply) {
  const std::vector<CommandCase> cases = {
      {"#KALDU get currentuserhandle", {"#KALDU CURRENTUSERHANDLE operator1"}},
      {"GET CURRENTUSERHANDLE", {"CURRENTUSERHANDLE operator1"}},
      {"#KALDU set AGC on", {"#KALDU AGC ON"}},
      {"#KALDU set agc OFF", {"#KALDU AGC OFF"}},
      {"#KALDU set AGC maybe", {"#KALDU ERROR 26 Invalid value"}},
      {"#KALDU open contacts", {"#KALDU OPEN CONTACTS"}},
      {"#7 OPEN   CONTACTS", {"#7 OPEN CONTACTS"}},
      {"#KALDU btn_released no", {"#KALDU BTN_RELEASED NO"}},
      {"#KALDU minimize", {"#KALDU OK"}},
      {"#KALDU9 protocol 7", {"#KALDU9 PROTOCOL 5"}},
      {"#KALDU get currentuserhandle extra", {"#KALDU ERROR 7 GET: invalid WHAT"}},
      {"#KALDU fly away", {"#KALDU ERROR 2 Unknown command"}},
      {"#KALDU", {"#KALDU ERROR 1 General syntax error"}},
      {"#KALDU    ", {"#KALDU ERROR 1 General syntax error"}},
      {"", {"ERROR 1 General syntax error"}},
      {"#KALDU set call 999 status onhold", {"#KALDU ERROR 20 Unknown call"}},
      {"#KALDU set call", {"#KALDU ERROR 19 Invalid call id"}},
      {"#KALDU get call x status", {"#KALDU ERROR 11 Invalid call id"}},
      {"#KALDU set call 999 join_conference 1000", {"#KALDU ERROR 20 Unknown call"}},
      {"#50 CALL echo123", {"CALL 1234 STATUS ROUTING", "#50 CALL 1234 STATUS ROUTING", "CALL 1234 STATUS RINGING"}},
  };
  CallModel model;
  std::vector<std::string> commands;
  for (const CommandCase& c : cases) {
    EXPECT_EQ(model.HandleCommand(c.command), c.expected) << "command: " << c.command;
    commands.push_back(c.command);
  }
  EXPECT_EQ(model.Commands(), commands);
  EXPECT_FALSE(model.Agc());
  ASSERT_NE(model.FindCall("1234"), nullptr);  // the CALL command's outgoing call
  EXPECT_EQ(model.FindCall("1234")->peer, "echo123");
  EXPECT_EQ(model.FindCall("1234")->direction, Direction::Outgoing);
}

// The live calls, in id order, and the far end's names, as the client gives them on request.
TEST(CallModelTest, SearchesLiveCallsAndNamesTheirFarEnds) {
  CallModel model;
  EXPECT_EQ(model.HandleCommand("#KALDU3 SEARCH ACTIVECALLS"), Lines{"#KALDU3 CALLS "});
  std::string first, second, third;
  model.IncomingCall("anna.berg", &first);
  model.OperatorDials("+4712345678", &second);
  model.IncomingCall("carl", &third);
  model.Missed(third);
  ASSERT_TRUE(model.NameCall(first, "Anna Berg"));
  const std::vector<CommandCase> cases = {{"SEARCH ACTIVECALLS", {"CALLS 1234, 1240"}},
      {"#1 GET CALL 1234 PARTNER_DISPNAME", {"#1 CALL 1234 PARTNER_DISPNAME Anna Berg"}}, {"#2 get call 1234 partner_handle", {"#2 CALL 1234 PARTNER_HANDLE anna.berg"}},
      {"#3 GET CALL 1240 PARTNER_DISPNAME", {"#3 CALL 1240 PARTNER_DISPNAME +4712345678"}}, {"#4 GET CALL 999 PARTNER_DISPNAME", {"#4 ERROR 12 Unknown call"}}};
  for (const CommandCase& c : cases) EXPECT_EQ(model.HandleCommand(c.command), c.expected) << c.command;
}

// The whole road of one transfer, as the client would report it with its default options.
TEST(CallModelTest, RunsATransferCycle) {
  CallModel model;
  std::string first;
  EXPECT_EQ(model.IncomingCall("caller", &first), (Lines{"CALL 1234 CONF_ID 0", "CALL 1234 STATUS RINGING"}));
  EXPECT_EQ(first, "1234");
  EXPECT_EQ(model.OperatorAnswers(first), Lines{"CALL 1234 STATUS INPROGRESS"});
  EXPECT_EQ(model.HandleCommand("#KALDU set AGC on"), Lines{"#KALDU AGC ON"});
  EXPECT_EQ(model.HandleCommand("#KALDU set call 1234 status onhold"),
            (Lines{"CALL 1234 STATUS LOCALHOLD", "#KALDU CALL 1234 STATUS LOCALHOLD"}));
  std::string second;
  EXPECT_EQ(model.OperatorDials("target", &second),
            (Lines{"CALL 1240 STATUS UNPLACED", "CALL 1240 STATUS ROUTING", "CALL 1240 STATUS ROUTING",
                   "CALL 1240 STATUS RINGING"}));
  EXPECT_EQ(model.FarEndAnswers(second), Lines{"CALL 1240 STATUS INPROGRESS"});
  EXPECT_EQ(model.HandleCommand("#KALDU set call 1234 join_conference 1240"),
            (Lines{"#KALDU CALL 1234 CONF_ID 1", "CALL 1234 STATUS INPROGRESS"}));
  EXPECT_EQ(model.HandleCommand("#KALDU set AGC off"), Lines{"#KALDU AGC OFF"});
  EXPECT_FALSE(model.Agc());
  EXPECT_EQ(model.FarEndHangsUp(second), Lines{"CALL 1240 STATUS FINISHED"});
  EXPECT_EQ(model.HandleCommand("#KALDU set call 1234 status finished"),
            (Lines{"CALL 1234 STATUS FINISHED", "#KALDU CALL 1234 STATUS FINISHED"}));
  EXPECT_EQ(model.HandleCommand("#KALDU minimize"), Lines{"#KALDU OK"});
  EXPECT_TRUE(IsEnded(*model.FindCall(first)));
  EXPECT_TRUE(IsEnded(*model.FindCall(second)));
}

TEST(CallModelTest, OlderClientsReportHoldAsOnHoldAndMayReplyFirst) {
  CallModel::Options options;
  options.holdAsLocalHold = false;
  options.replyBeforeNotifications = true;
  options.userHandle = "someone";
  CallModel model(options);
  std::string id;
  model.IncomingCall("caller", &id);
  EXPECT_EQ(model.HandleCommand("#1 SET CALL " + id + " STATUS INPROGRESS"),
            (Lines{"#1 CALL 1234 STATUS INPROGRESS", "CALL 1234 STATUS INPROGRESS"}));
  EXPECT_EQ(model.HandleCommand("#2 set call " + id + " status onhold"),
            (Lines{"#2 CALL 1234 STATUS ONHOLD", "CALL 1234 STATUS ONHOLD"}));
  EXPECT_EQ(model.HandleCommand("#3 set call " + id + " status inprogress"),
            (Lines{"#3 CALL 1234 STATUS INPROGRESS", "CALL 1234 STATUS INPROGRESS"}));
  EXPECT_EQ(model.HandleCommand("#4 get currentuserhandle"), Lines{"#4 CURRENTUSERHANDLE someone"});
  // The operator's own hold in the client uses the same word.
  EXPECT_EQ(model.OperatorHolds(id), Lines{"CALL 1234 STATUS ONHOLD"});
  EXPECT_EQ(model.OperatorResumes(id), Lines{"CALL 1234 STATUS INPROGRESS"});
}

// Status changes that do not fit the call's state give an error or, when already so, a bare reply.
TEST(CallModelTest, RefusesStatusChangesThatDoNotFit) {
  CallModel model;
  std::string ringing;
  model.IncomingCall("caller", &ringing);
  std::string ended;
  model.IncomingCall("other", &ended);
  model.Missed(ended);
  const std::vector<CommandCase> cases = {
      {"#K set call 1234 status onhold", {"#K ERROR 22 Cannot hold this call at the moment"}},
      {"#K set call 1240 status inprogress", {"#K ERROR 23 Cannot resume this call at the moment"}},
      {"#K set call 1234 status ringing", {"#K ERROR 21 Invalid call status"}},
      {"#K set call 1234 duration 3", {"#K ERROR 21 Unknown or disallowed call property"}},
      // Hanging up a call that already ended repeats how it ended, with no new notification.
      {"#K set call 1240 status finished", {"#K CALL 1240 STATUS MISSED"}},
  };
  for (const CommandCase& c : cases) EXPECT_EQ(model.HandleCommand(c.command), c.expected) << "command: " << c.command;
  EXPECT_EQ(model.FindCall(ringing)->status, "RINGING");
  EXPECT_EQ(model.HandleCommand("#K set call 1234 status inprogress"),
            (Lines{"CALL 1234 STATUS INPROGRESS", "#K CALL 1234 STATUS INPROGRESS"}));
  EXPECT_EQ(model.HandleCommand("#K set call 1234 status inprogress"), Lines{"#K CALL 1234 STATUS INPROGRESS"});
  // A held call hung up by command stays ended: no resume brings it back.
  model.HandleCommand("#K set call 1234 status onhold");
  model.HandleCommand("#K set call 1234 status finished");
  EXPECT_EQ(model.OperatorResumes(ringing), Lines{});
}

TEST(CallModelTest, JoinNeedsTwoDistinctLiveCalls) {
  CallModel model;
  std::string first;
  std::string second;
  model.IncomingCall("caller", &first);
  model.OperatorAnswers(first);
  // Dialling holds the caller, as the client does; either before or after the dial's first line.
  EXPECT_EQ(model.OperatorDials("target", &second, true),
            (Lines{"CALL 1240 STATUS UNPLACED", "CALL 1240 STATUS ROUTING", "CALL 1234 STATUS LOCALHOLD",
                   "CALL 1240 STATUS ROUTING", "CALL 1240 STATUS RINGING"}));
  const std::vector<CommandCase> cases = {
      {"#K set call 1234 join_conference 1240", {"#K ERROR 72 Cannot create conference"}},  // still ringing
      {"#K set call 1234 join_conference 1234", {"#K ERROR 72 Cannot create conference"}},
      {"#K set call 1234 join_conference 9", {"#K ERROR 71 Invalid conference participant NO"}},
  };
  for (const CommandCase& c : cases) EXPECT_EQ(model.HandleCommand(c.command), c.expected) << "command: " << c.command;
  // The join takes the caller off hold.
  EXPECT_EQ(model.FarEndAnswers(second), (Lines{"CALL 1240 STATUS INPROGRESS"}));
  EXPECT_EQ(model.HandleCommand("#K set call 1234 join_conference 1240"),
            (Lines{"#K CALL 1234 CONF_ID 1", "CALL 1234 STATUS INPROGRESS"}));
}

// Each outside event applies only in the call states where it can happen; elsewhere it reports nothing.
TEST(CallModelTest, OutsideEventsApplyOnlyWhereTheyCanHappen) {
  const Lines fails = {"CALL 1234 FAILUREREASON 4", "CALL 1234 STATUS FAILED"};
  const struct {
    const char* name;
    std::function<Lines(CallModel&, std::string_view)> event;
    Lines onRingingIncoming, onRingingOutgoing, onAnswered;
  } cases[] = {
      {"operator answers", &CallModel::OperatorAnswers, {"CALL 1234 STATUS INPROGRESS"}, {}, {}},
      {"far end answers", &CallModel::FarEndAnswers, {}, {"CALL 1234 STATUS INPROGRESS"}, {}},
      {"far end refuses", &CallModel::FarEndRefuses, {"CALL 1234 STATUS REFUSED"}, {"CALL 1234 STATUS REFUSED"}, {}},
      {"busy", &CallModel::FarEndBusy, {}, {"CALL 1234 STATUS BUSY"}, {}},
      {"operator cancels", &CallModel::OperatorCancels, {}, {"CALL 1234 STATUS CANCELLED"}, {}},
      {"missed", &CallModel::Missed, {"CALL 1234 STATUS MISSED"}, {"CALL 1234 STATUS MISSED"}, {}},
      {"far end hangs up", &CallModel::FarEndHangsUp, {}, {}, {"CALL 1234 STATUS FINISHED"}},
      {"operator hangs up", &CallModel::OperatorHangsUp, {"CALL 1234 STATUS FINISHED"}, {"CALL 1234 STATUS CANCELLED"},
       {"CALL 1234 STATUS FINISHED"}},
      {"far end holds", &CallModel::FarEndHolds, {}, {}, {"CALL 1234 STATUS REMOTEHOLD"}},
      {"operator holds", &CallModel::OperatorHolds, {}, {}, {"CALL 1234 STATUS LOCALHOLD"}},
      {"operator resumes", &CallModel::OperatorResumes, {}, {}, {}},
      {"fails", [](CallModel& m, std::string_view id) { return m.FarEndFails(id, 4); }, fails, fails, fails},
  };
  for (const auto& c : cases) {
    for (int state = 0; state < 3; ++state) {  // ringing incoming, ringing outgoing, answered
      SCOPED_TRACE(std::string(c.name) + " in state " + std::to_string(state));
      CallModel model;
      std::string id;
      state == 1 ? model.OperatorDials("target", &id) : model.IncomingCall("caller", &id);
      if (state == 2) model.OperatorAnswers(id);
      const Lines* expected[] = {&c.onRingingIncoming, &c.onRingingOutgoing, &c.onAnswered};
      EXPECT_EQ(c.event(model, id), *expected[state]);
    }
    CallModel model;
    std::string id;
    model.IncomingCall("caller", &id);
    model.OperatorHangsUp(id);
    EXPECT_EQ(c.event(model, id), Lines{}) << c.name << " on an ended call";
    EXPECT_EQ(c.event(model, "4711"), Lines{}) << c.name << " on an unknown call";
  }
}

}  // namespace
}  // namespace halvane::sim
