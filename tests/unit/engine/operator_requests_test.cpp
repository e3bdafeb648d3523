#include "engine/operator_requests.h"

#include <gtest/gtest.h>

#include <string>

#include "engine_harness.h"

namespace halvane {
namespace {

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
    testing_engine::Scenario s;
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

}  // namespace
}  // namespace halvane
