// The real Halvane.exe against a client that misbehaves: hostile lines, refused deliveries, replies that
// never come, re-logins, and a client that ends while another one takes its place. After each fault the
// program must still run, answer on its windows, have written nothing outside its "log" folder, and
// follow the next calls. Several faults share one Halvane process, which keeps Wine's start-up cost low.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/call_board.h"
#include "operator_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

using sim::ClientEmulator;
using sim::TranscriptEntry;
using Kind = TranscriptEntry::Kind;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::size_t CountKind(const ClientEmulator& client, Kind kind) {
  std::size_t count = 0;
  for (const TranscriptEntry& e : client.Transcript()) count += e.kind == kind ? 1 : 0;
  return count;
}

// Stops the emulator's API thread inside its own window procedure until released (at most a minute),
// as a client that hangs: nothing sent to the window is handled meanwhile. One at a time.
class ClientHang {
 public:
  ~ClientHang() { Release(); }

  // Hangs the thread of the emulator's API window; true once it is inside the hang.
  bool Start(sim::Hwnd api) {
    release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    entered_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HWND window = reinterpret_cast<HWND>(api);
    if (release_ == nullptr || entered_ == nullptr || window == nullptr) return false;
    previous_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    return previous_ != nullptr && PostMessageW(window, kHangMessage, 0, 0) != FALSE &&
           WaitForSingleObject(entered_, 10000) == WAIT_OBJECT_0;
  }
  void Release() {
    if (release_ != nullptr) SetEvent(release_);
  }

 private:
  static constexpr UINT kHangMessage = WM_APP + 0x2A;
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kHangMessage) return CallWindowProcW(previous_, window, message, wParam, lParam);
    SetEvent(entered_);
    WaitForSingleObject(release_, 60000);
    return 0;
  }
  // The window keeps this procedure after the test; what it needs stays valid.
  static inline WNDPROC previous_ = nullptr;
  static inline HANDLE release_ = nullptr;
  static inline HANDLE entered_ = nullptr;
};

class FaultTest : public OperatorTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.Ok()) << "no scratch folder";
    ASSERT_TRUE(client_.Start()) << "the emulator's API window could not be made";
    ASSERT_TRUE(halvane_.Start(folder_.Path(), true, folder_.OutputFile())) << halvane_.Error();
    ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() != 0; }, seconds(20), "Halvane to attach"));
    link_ = client_.AttachedLink();
    ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
  }

  void TearDown() override {
    const std::vector<std::string> outside = OutsideLogFolder(folder_.Tree());
    EXPECT_TRUE(outside.empty()) << "files outside the log folder, first: " << (outside.empty() ? "" : outside[0]);
    if (HasFailure()) std::printf("--- Halvane's output:\n%s\n", OutputOf(folder_).c_str());
    OperatorTest::TearDown();
  }

  // Still running, both windows answering, nothing written outside "log".
  ::testing::AssertionResult StillUp(const std::string& after) {
    if (const auto answers = Answers(halvane_, link_); !answers) {
      return ::testing::AssertionFailure() << "after " << after << ": " << answers.message();
    }
    const std::vector<std::string> outside = OutsideLogFolder(folder_.Tree());
    if (!outside.empty()) return ::testing::AssertionFailure() << "after " << after << ": " << outside[0] << " written";
    return ::testing::AssertionSuccess();
  }

  // Nothing before took the engine's wait for a call: a call rung now is the one it takes and answers
  // (it follows only the call it took), and its end brings the wait back.
  ::testing::AssertionResult NoRing(const std::string& after) {
    const std::string id = std::to_string(9100 + ++probes_);
    if (!client_.SendLine("CALL " + id + " STATUS RINGING") || !log_.Expect(logline::kRings) ||
        !client_.SendLine("CALL " + id + " STATUS INPROGRESS") || !log_.Expect(logline::kWaitHold)) {
      return ::testing::AssertionFailure() << "after " << after << " the engine did not take a new call "
                                           << id << ": it took a call ring from what came before";
    }
    if (!client_.SendLine("CALL " + id + " STATUS FINISHED") || !log_.Expect(logline::kWaitIncoming)) {
      return ::testing::AssertionFailure() << "after " << after << " the end of call " << id << " was not taken";
    }
    return ::testing::AssertionSuccess();
  }

  // A call is answered and the client refuses its hold: Halvane reports the broken connection.
  void RefuseTheHold() {
    ASSERT_TRUE(script_.RingAndAnswer());
    client_.SetRefuseDeliveries(true);
    ASSERT_TRUE(halvane_.Press(kIdHold));
    ASSERT_TRUE(log_.Expect(logline::kHold));
    ASSERT_TRUE(WaitUntil([&] { return OutputOf(folder_).find("!!! Disconnected\n") != std::string::npos; },
                          "\"!!! Disconnected\" on Halvane's output"));
  }

  // The lines the client has handed over, or failed to hand over, in all.
  std::size_t Handed() const { return CountKind(client_, Kind::Sent) + CountKind(client_, Kind::SendFailed); }

  int probes_ = 0;
  ScratchFolder folder_;
  sim::Hwnd link_ = 0;
};

// Lines a broken or hostile client could send while Halvane waits for a call. Each either has no effect
// at all or exactly the effect of its well-formed part.
TEST_F(FaultTest, HostileLinesLeaveItFollowingCalls) {
  struct Hostile {
    const char* what;
    std::string bytes;
    std::uint32_t cbData;
    bool rings;  // the engine must take it for a ring (then a MISSED line for the same call follows)
  };
  const std::string longId(200, '7');
  const std::vector<Hostile> lines = {
      {"1 MB status", "CALL 9001 STATUS " + std::string(1 << 20, 'R') + '\0', 0, false},
      {"1 MB text", std::string(1 << 20, 'x') + '\0', 0, false},
      {"a ring cut short inside a UTF-8 sequence", "CALL 9002 STATUS RINGING\xE2\x82" + std::string(1, '\0'), 0,
       false},
      {"stray bytes in the status", "CALL 9003 STATUS RIN\xFF\xFE\x80\xBFGING" + std::string(1, '\0'), 0, false},
      {"no terminating zero", "CALL 9004 STATUS RINGING", 0, true},
      {"text past cbData", "CALL 9005 STATUS RINGINGMISSED", 24, true},
      {"a 200-character call id", "CALL " + longId + " STATUS RINGING" + '\0', 0, false},
      {"a call id one longer than its field", "CALL 7777777777777778 STATUS RINGING" + std::string(1, '\0'), 0, false},
      {"keywords out of order", " STATUS CALL 9008 RINGING" + std::string(1, '\0'), 0, false},
  };
  for (const Hostile& line : lines) {
    SCOPED_TRACE(line.what);
    const std::size_t before = Handed();
    const std::uint32_t cbData = line.cbData != 0 ? line.cbData : static_cast<std::uint32_t>(line.bytes.size());
    ASSERT_TRUE(client_.SendBytes(line.bytes, cbData));
    ASSERT_TRUE(WaitUntil([&] { return Handed() > before; }, seconds(15), std::string(line.what) + " handed to Halvane"));
    EXPECT_TRUE(HasEntry(client_, Kind::Sent, line.bytes.substr(0, std::min<std::size_t>(cbData, line.bytes.find('\0')))))
        << "Halvane did not accept a line from the attached client";
    if (line.rings) {
      ASSERT_TRUE(log_.Expect(logline::kRings));
      const std::string text = line.bytes.substr(0, cbData);
      const std::string id = text.substr(5, text.find(" STATUS") - 5);
      ASSERT_TRUE(client_.SendLine("CALL " + id + " STATUS MISSED"));
      ASSERT_TRUE(log_.Expect(logline::kAnswer));
      ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
    } else {
      EXPECT_TRUE(NoRing(line.what));
    }
    ASSERT_TRUE(StillUp(line.what));
  }

  // A call id of the field's full width is followed; a longer one that starts alike names no call, so its
  // FINISHED does not end the held caller and no command names it.
  const std::string fullId(15, '7');
  ASSERT_TRUE(client_.SendLine("CALL " + fullId + " STATUS RINGING"));
  ASSERT_TRUE(log_.Expect(logline::kRings));
  ASSERT_TRUE(client_.SendLine("CALL " + fullId + " STATUS INPROGRESS"));
  ASSERT_TRUE(log_.Expect(logline::kWaitHold));
  ASSERT_TRUE(halvane_.Press(kIdHold));
  // The emulator never made this call, so it refuses the hold: Halvane waits for Hold again.
  ASSERT_TRUE(log_.Expect(logline::kWaitHold));
  EXPECT_TRUE(HasEntry(client_, Kind::Command, "#KALDU set call " + fullId + " status onhold"));
  ASSERT_TRUE(client_.SendLine("CALL " + fullId + "8 STATUS FINISHED"));
  // The engine reads every status line before the operator's next request: a second Hold still taken
  // shows the longer id was read and ended nothing.
  AwaitReaction();
  const std::string hold = "#KALDU set call " + fullId + " status onhold";
  ASSERT_TRUE(halvane_.Press(kIdHold));
  ASSERT_TRUE(WaitUntil([&] { const auto c = client_.UnnumberedCommands(); return std::count(c.begin(), c.end(), hold) == 2; },
                        "the caller's second hold"))
      << "a longer id ended the call whose id it starts with";
  ASSERT_TRUE(log_.Expect(logline::kWaitHold));
  ASSERT_TRUE(client_.SendLine("CALL " + fullId + " STATUS FINISHED"));
  ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));

  // From a window that is not the client's: refused (answered 0) and not taken for a ring.
  ASSERT_TRUE(client_.SendFromForeignWindow("CALL 9006 STATUS RINGING"));
  ASSERT_TRUE(WaitUntil([&] { return HasEntry(client_, Kind::SendFailed, "CALL 9006 STATUS RINGING"); },
                        "Halvane to refuse the foreign window's line"));
  EXPECT_TRUE(NoRing("a foreign window's ring"));

  // A flood: ten thousand lines queued at once, all taken, none of them a ring.
  const std::size_t floodLines = 10000;
  const std::size_t before = Handed();
  const std::size_t failedBefore = CountKind(client_, Kind::SendFailed);
  const std::uint64_t version = client_.TranscriptVersion();
  const auto floodStart = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < floodLines; ++i) {
    const std::string n = std::to_string(i);
    const std::string line = i % 3 == 0   ? "CALL 9007 DURATION " + n
                             : i % 3 == 1 ? "CALL 9007 STATUS INPROGRESS"
                                          : "USER peer" + n + " ONLINESTATUS ONLINE";
    ASSERT_TRUE(client_.SendLine(line));
  }
  // Each line handed over adds one transcript entry; the version is cheap to watch, the transcript is not.
  ASSERT_TRUE(WaitUntil([&] { return client_.TranscriptVersion() >= version + floodLines; }, seconds(120),
                        "ten thousand lines handed to Halvane"));
  const auto floodMs =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - floodStart).count();
  std::printf("[ flood    ] %zu lines taken in %lld ms\n", floodLines, static_cast<long long>(floodMs));
  EXPECT_EQ(Handed(), before + floodLines);
  EXPECT_EQ(CountKind(client_, Kind::SendFailed), failedBefore) << "Halvane refused lines of the flood";
  EXPECT_TRUE(NoRing("the flood"));
  ASSERT_TRUE(StillUp("the flood"));

  // The next calls are followed as ever.
  EXPECT_TRUE(script_.Play(Cycle::kTransfer));
  EXPECT_TRUE(StillUp("the last transfer"));
}

// The client re-logs in while idle and during a call, stops replying, and refuses a delivery mid-cycle.
TEST_F(FaultTest, ClientFaultsDuringCycles) {
  // Re-login while idle: re-attached, connected again, and the next transfer goes through.
  ASSERT_TRUE(client_.ReLogin());
  ASSERT_TRUE(log_.Expect(logline::kReLogin));
  ASSERT_TRUE(log_.Expect(logline::kReconnect));
  ASSERT_TRUE(log_.Expect(logline::kAccess));
  ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
  EXPECT_EQ(client_.AttachedLink(), link_);
  ASSERT_TRUE(StillUp("a re-login while idle"));
  ASSERT_TRUE(script_.Play(Cycle::kTransfer));

  // Re-login during a call: re-attached, and the call's transfer carries on to its end.
  ASSERT_TRUE(script_.RingAndAnswer());
  ASSERT_TRUE(client_.ReLogin());
  ASSERT_TRUE(log_.Expect(logline::kReLogin));
  ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() == link_; }, "the client attached again"));
  ASSERT_TRUE(StillUp("a re-login during a call"));
  ASSERT_TRUE(script_.Hold());
  ASSERT_TRUE(script_.DialSecond());
  ASSERT_TRUE(script_.SecondAnswers());
  ASSERT_TRUE(script_.Transfer(false));
  ASSERT_TRUE(script_.ConferenceEnds());
  ASSERT_TRUE(script_.NoCallsLeft());

  // No replies to the hold step's two commands (the hold, the contacts): the engine gives up on each
  // after its bounded wait, logs each once, and goes on. Replies come back while it waits for the
  // second call, when it sends nothing.
  const std::size_t noRepliesBefore = CountOf(WithoutCr(halvane_.LogText()), logline::kNoReply);
  ASSERT_TRUE(script_.RingAndAnswer());
  client_.SetNeverReply(true);
  AwaitReaction();
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(halvane_.Press(kIdHold));
  ASSERT_TRUE(log_.Expect(logline::kHold));
  ASSERT_TRUE(log_.Expect(logline::kNoReply));
  const auto waitedMs = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - pressed).count();
  EXPECT_GE(waitedMs, 5000) << "the engine gave up on the reply before its five seconds";
  ASSERT_TRUE(log_.Expect(logline::kNoReply));
  ASSERT_TRUE(log_.Expect(logline::kWaitSecondCall));
  client_.SetNeverReply(false);
  ASSERT_TRUE(StillUp("replies that never came"));
  // The resume is answered again: not taken as unanswered.
  ASSERT_TRUE(script_.ReturnToCaller());
  EXPECT_EQ(CountOf(WithoutCr(halvane_.LogText()), logline::kNoReply), noRepliesBefore + 2)
      << "an answered command was taken as unanswered";
  ASSERT_TRUE(script_.CallerHangsUp());
  ASSERT_TRUE(script_.NoCallsLeft());

  // The client refuses the hold: Halvane reports the broken connection, lets go of the client, and takes
  // it back when the client announces itself again.
  ASSERT_NO_FATAL_FAILURE(RefuseTheHold());
  EXPECT_TRUE(HasEntry(client_, Kind::CommandRefused, "#KALDU set call " + script_.FirstCall() + " status onhold"));
  ASSERT_TRUE(log_.Expect(logline::kWaitSecondCall));
  client_.SetRefuseDeliveries(false);
  // Not attached meanwhile: nothing more reached the client, and what the client sends is turned away.
  EXPECT_EQ(CountKind(client_, Kind::CommandRefused), 1u) << "commands were sent to a client that refused";
  ASSERT_TRUE(client_.SendLine("CALL 9100 STATUS ROUTING"));
  ASSERT_TRUE(WaitUntil([&] { return HasEntry(client_, Kind::SendFailed, "CALL 9100 STATUS ROUTING"); },
                        "Halvane to turn away a line while not attached"));
  ASSERT_TRUE(StillUp("a refused delivery"));

  ASSERT_TRUE(client_.ReLogin());
  ASSERT_TRUE(log_.Expect(logline::kReLogin));
  ASSERT_TRUE(WaitUntil([&] { return client_.AttachedLink() == link_; }, "the client attached again"));
  // The held caller hangs up: the engine ends the cycle, and the next transfer goes through.
  ASSERT_TRUE(client_.FarEndHangsUp(script_.FirstCall()));
  ASSERT_TRUE(log_.Expect(logline::kFirstHangUp));
  ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
  ASSERT_TRUE(script_.NoCallsLeft());
  EXPECT_TRUE(script_.Play(Cycle::kTransfer));
  EXPECT_EQ(CountOf(OutputOf(folder_), "!!! Disconnected"), 1u);
  EXPECT_TRUE(StillUp("the last transfer"));
}

// The client is busy for longer than the send bound inside one command (7 s), then for longer than two
// commands take (14 s). Halvane keeps the client, says once per stall in the log that a command was late,
// takes the reply that comes late, and follows the next calls with no re-login. A command sent while the
// client's window counts as hung is delivered or counted in the log as not delivered: none is lost silently.
TEST_F(FaultTest, StalledDeliveriesKeepTheClientAndLoseNoCommandSilently) {
  const std::size_t failedBefore = CountKind(client_, Kind::SendFailed);
  const std::size_t discoveriesBefore = CountKind(client_, Kind::Discovery);
  for (const int stallMs : {7000, 14000}) {
    SCOPED_TRACE("a stall of " + std::to_string(stallMs) + " ms");
    ASSERT_TRUE(script_.RingAndAnswer());
    const std::string hold = "#KALDU set call " + script_.FirstCall() + " status onhold";
    const std::size_t contactsBefore = CommandCount(client_, "#KALDU open contacts");
    client_.StallNextCommand(milliseconds(stallMs));
    ASSERT_TRUE(halvane_.Press(kIdHold));
    ASSERT_TRUE(log_.Expect(logline::kHold));
    ASSERT_TRUE(log_.Expect(logline::kCommandLate));
    ASSERT_TRUE(log_.Expect(logline::kWaitSecondCall));
    ASSERT_TRUE(WaitUntil([&] { return HasEntry(client_, Kind::Command, hold); }, seconds(15),
                          "the stalled client to take the hold"));
    ASSERT_TRUE(script_.ReturnToCaller());
    // The hold's second command (the contacts) was either delivered or counted as not delivered.
    const std::string log = WithoutCr(halvane_.LogText());
    const std::size_t delivered = CommandCount(client_, "#KALDU open contacts") - contactsBefore;
    const std::size_t counted = CountOf(log, logline::kNotDelivered + std::string("1\n"));
    std::printf("[ stall    ] contacts delivered %zu, counted as not delivered %zu\n", delivered, counted);
    EXPECT_EQ(delivered + counted, 1u) << "a command sent during the stall was lost silently";
    EXPECT_EQ(CountOf(log, logline::kNotDelivered), counted);
    ASSERT_TRUE(script_.CallerHangsUp());
    ASSERT_TRUE(script_.NoCallsLeft());
    EXPECT_TRUE(script_.Play(Cycle::kTransfer));
  }
  EXPECT_EQ(CountKind(client_, Kind::SendFailed), failedBefore) << "Halvane answered 0 to the client after a stall";
  EXPECT_EQ(CountKind(client_, Kind::Discovery), discoveriesBefore) << "Halvane had to discover the client again";
  EXPECT_EQ(CountOf(WithoutCr(halvane_.LogText()), logline::kCommandLate), 2u) << "once for each stall";
  EXPECT_EQ(OutputOf(folder_).find("!!! Disconnected"), std::string::npos);
  EXPECT_TRUE(StillUp("the transfers after the stalls"));
}

// The client's window is hung when Halvane starts, so the start's discovery never reaches it; Halvane
// keeps looking every 10 s and attaches soon after the client answers again.
TEST_F(FaultTest, AClientHungAtStartIsAttachedSoonAfterItRecovers) {
  ASSERT_TRUE(halvane_.Close()) << "the fixture's copy did not end";
  client_.Stop();
  ClientEmulator late;
  ASSERT_TRUE(late.Start()) << "the emulator's API window could not be made";
  ClientHang hang;
  ASSERT_TRUE(hang.Start(late.ApiWindow())) << "the client could not be made to hang";
  HalvaneProcess fresh;
  ASSERT_TRUE(fresh.Start(folder_.Path(), true, folder_.OutputFile())) << fresh.Error();
  // Released once Halvane is up (its main window answers), its start's look gone past the hung window.
  ASSERT_TRUE(Answers(fresh, 0));
  hang.Release();
  const auto released = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return late.AttachedLink() != 0; }, seconds(12),
                        "the recovered client to be attached within 12 s"));
  const auto attachedMs =
      std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - released).count();
  std::printf("[ hung     ] attached %lld ms after the client recovered\n", static_cast<long long>(attachedMs));
  EXPECT_TRUE(WaitUntil([&] { return HasEntry(late, Kind::Command, "#KALDU get currentuserhandle"); }, seconds(5),
                        "Halvane's first command to the recovered client"));
  EXPECT_TRUE(fresh.Close());
}

// The client refuses a delivery: Halvane lets go of it and, with no word from the client, looks for it
// again within the rediscovery interval, attaches, and follows the calls.
TEST_F(FaultTest, RefusedDeliveriesReattachByThemselves) {
  ASSERT_NO_FATAL_FAILURE(RefuseTheHold());
  const std::size_t discoveries = CountKind(client_, Kind::Discovery);
  client_.SetRefuseDeliveries(false);
  // Ten seconds, counted from the tick that notices the loss.
  ASSERT_TRUE(WaitUntil([&] { return CountKind(client_, Kind::Discovery) > discoveries; }, seconds(12),
                        "Halvane to look for the client again by itself"));
  ASSERT_TRUE(log_.Expect(logline::kLookingAgain));
  ASSERT_TRUE(client_.FarEndHangsUp(script_.FirstCall()));
  ASSERT_TRUE(log_.Expect(logline::kFirstHangUp));
  ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
  EXPECT_TRUE(script_.Play(Cycle::kTransfer));
  EXPECT_FALSE(log_.Seen(logline::kReLogin));
  EXPECT_EQ(CountOf(OutputOf(folder_), "!!! Disconnected"), 1u);
  EXPECT_EQ(CountOf(WithoutCr(halvane_.LogText()), logline::kLookingAgain), 1u) << "the rediscovery is logged once";
  EXPECT_TRUE(StillUp("a transfer after re-attaching"));
}

// A program whose window has stopped taking messages is on the desktop when Halvane starts: the discovery
// passes it within its bound and reaches the client. (Unbounded, it would wait the full minute.)
TEST(FaultStart, AHungWindowDoesNotHoldTheDiscovery) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.Ok()) << "no scratch folder";
  ClientEmulator client;
  ASSERT_TRUE(client.Start()) << "the emulator's API window could not be made";
  sim::HungWindow hung;  // made after the client, so that it is met first
  ASSERT_TRUE(hung.Start(seconds(60))) << "the hung window could not be made";
  DWORD_PTR result = 0;
  ASSERT_EQ(SendMessageTimeoutW(reinterpret_cast<HWND>(hung.Window()), WM_NULL, 0, 0, SMTO_NORMAL, 200, &result), 0)
      << "the hung window answered";
  HalvaneProcess halvane;
  ASSERT_TRUE(halvane.Start(folder.Path(), true, folder.OutputFile())) << halvane.Error();
  EXPECT_TRUE(WaitUntil([&] { return HasEntry(client, Kind::Command, "#KALDU get currentuserhandle"); }, seconds(20),
                        "Halvane's discovery to reach the client past the hung window, and its first command"));
}

// The client ends; Halvane stays up and takes the next client when that one announces itself, as a
// client does on its start (sooner than Halvane's own look for a lost client, every 10 s).
TEST_F(FaultTest, ANewClientTakesOverWhenTheOldOneEnds) {
  const sim::Hwnd oldApi = client_.ApiWindow();
  client_.Stop();
  ASSERT_TRUE(StillUp("the client ended"));

  ClientEmulator next;
  ASSERT_TRUE(next.Start());
  ASSERT_NE(next.ApiWindow(), oldApi);
  ASSERT_TRUE(AnnounceClient(next.ApiWindow()));
  ASSERT_TRUE(log_.Expect(logline::kReLogin));
  ASSERT_TRUE(WaitUntil([&] { return next.AttachedLink() == link_; }, "the new client attached"));
  ASSERT_TRUE(log_.Expect(logline::kReconnect));
  ASSERT_TRUE(log_.Expect(logline::kWaitIncoming));
  EXPECT_TRUE(HasEntry(next, Kind::Command, "#KALDU get currentuserhandle"));
  ASSERT_TRUE(StillUp("a new client attached"));

  script_.SetClient(next);
  EXPECT_TRUE(script_.Play(Cycle::kTransfer));
  EXPECT_TRUE(StillUp("the transfer with the new client"));
  EXPECT_EQ(OutputOf(folder_).find("!!! Disconnected"), std::string::npos)
      << "a command went to the ended client";
}

// The client's window goes without a word and a new client starts without announcing itself: Halvane's
// timer notices the window gone and its look (every 10 s) finds the new one.
TEST_F(FaultTest, AClientWindowGoneSilentlyIsReplacedThroughTheLook) {
  client_.Stop();
  ClientEmulator next;
  ASSERT_TRUE(next.Start());
  ASSERT_TRUE(log_.Expect(logline::kLookingAgain));
  EXPECT_TRUE(WaitUntil([&] { return halvane_.TrayIconPicture() == 128; }, "the plain icon while not attached"));
  ASSERT_TRUE(WaitUntil([&] { return next.AttachedLink() == link_; }, "the look to find the new client"));
  EXPECT_TRUE(WaitUntil([&] { return halvane_.TrayIconPicture() == 130; }, "the icon at rest once attached again"));
  ASSERT_TRUE(log_.Expect(logline::kReconnect));
  script_.SetClient(next);
  EXPECT_TRUE(script_.Play(Cycle::kTransfer));
  EXPECT_TRUE(StillUp("the transfer with the client found by the look"));
}

}  // namespace
}  // namespace halvane::e2e
