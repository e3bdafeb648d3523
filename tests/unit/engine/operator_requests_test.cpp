#include "engine/operator_requests.h"

#include <gtest/gtest.h>

#include <set>

#include "engine_harness.h"

namespace halvane {
namespace {

using testing_engine::RecordingItems;
using testing_engine::Trace;

struct Requests {
  bool hold, transfer, ret, blind;
};

Requests RequestsOf(const CallBoard& board) {
  return {board.holdRequest.load(), board.transferRequest.load(), board.returnRequest.load(),
          board.blindTransferRequest.load()};
}

// Each handler on a fresh board, for every combination of the two flags that decide acceptance.
TEST(RequestHandlers, ActOnlyWhenTheirConditionHolds) {
  enum Handler { kHold, kTransfer, kReturn, kBlind };
  const struct {
    Handler handler;
    bool callActive;
    bool transferAllowed;
    Requests want;
  } rows[] = {
      {kHold, false, false, {false, false, false, false}},
      {kHold, false, true, {false, false, false, false}},
      {kHold, true, false, {true, false, false, false}},
      {kTransfer, false, false, {false, false, false, false}},
      {kTransfer, false, true, {false, false, false, false}},
      {kTransfer, true, false, {false, false, false, false}},
      {kTransfer, true, true, {false, true, false, false}},
      {kReturn, false, true, {false, false, false, false}},
      {kReturn, true, false, {false, false, true, false}},
      {kBlind, false, true, {false, false, false, false}},
      {kBlind, true, false, {false, false, false, true}},
  };
  for (const auto& row : rows) {
    CallBoard board;
    testing_engine::ScriptClock clock;
    Trace trace;
    RecordingItems items(clock, trace);
    board.callActive.store(row.callActive);
    board.transferAllowed.store(row.transferAllowed);
    switch (row.handler) {
      case kHold: OnHold(board, items); break;
      case kTransfer: OnTransfer(board); break;
      case kReturn: OnReturn(board); break;
      case kBlind: OnBlindTransfer(board); break;
    }
    const Requests got = RequestsOf(board);
    const auto where = testing::Message() << "handler " << row.handler << " active " << row.callActive
                                          << " allowed " << row.transferAllowed;
    EXPECT_EQ(got.hold, row.want.hold) << where;
    EXPECT_EQ(got.transfer, row.want.transfer) << where;
    EXPECT_EQ(got.ret, row.want.ret) << where;
    EXPECT_EQ(got.blind, row.want.blind) << where;
    if (row.handler != kHold || !row.callActive) {
      EXPECT_TRUE(trace.empty()) << where;
    }
  }
}

TEST(RequestHandlers, HoldSwitchesTheButtonsInOrder) {
  CallBoard board;
  testing_engine::ScriptClock clock;
  Trace trace;
  RecordingItems items(clock, trace);
  board.mainWindow.store(0x4242);
  board.callActive.store(true);
  OnHold(board, items);
  EXPECT_EQ(trace, (Trace{"0 item 1002 off", "0 item 1003 on", "0 item 1004 on", "0 item 1005 on"}));
  EXPECT_EQ(items.dialogs, std::set<WindowHandle>{0x4242});
}

}  // namespace
}  // namespace halvane
