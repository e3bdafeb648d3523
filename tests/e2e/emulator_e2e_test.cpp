// The client emulator driven through real window messages by a minimal link of the test's own: a hidden
// top-level window that broadcasts the discovery, takes attach statuses, sends commands as WM_COPYDATA
// and collects what comes back.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "operator_win32.h"
#include "sim/client_emulator_win32.h"
#include "wait.h"

namespace halvane::e2e {
namespace {

using sim::ClientEmulator;
using sim::TranscriptEntry;
using Kind = TranscriptEntry::Kind;

class TestLink {
 public:
  TestLink() {
    discover_ = RegisterWindowMessageW(L"SkypeControlAPIDiscover");
    attach_ = RegisterWindowMessageW(L"SkypeControlAPIAttach");
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"HalvaneE2eTestLink";
    RegisterClassW(&wc);
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              wc.hInstance, this);
  }
  ~TestLink() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  TestLink(const TestLink&) = delete;
  TestLink& operator=(const TestLink&) = delete;

  HWND Window() const { return window_; }
  sim::Hwnd Handle() const { return reinterpret_cast<sim::Hwnd>(window_); }
  HWND Api() const { return api_; }
  const std::vector<std::pair<HWND, LPARAM>>& Attaches() const { return attaches_; }
  // Each message's bytes within its cbData, a terminating zero included.
  const std::vector<std::string>& Received() const { return received_; }
  int ForeignCopies() const { return foreignCopies_; }

  // The lines received so far as texts: up to the first zero within cbData.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const std::string& r : received_) lines.push_back(r.substr(0, r.find('\0')));
    return lines;
  }

  void Discover() const {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, discover_, reinterpret_cast<WPARAM>(window_), 0, SMTO_NORMAL, 5000,
                        &result);
  }

  // True when the client accepted the text (UTF-8, zero-terminated unless raw).
  bool Send(const std::string& text) { return SendBytes(text + '\0', static_cast<DWORD>(text.size() + 1), window_); }
  bool SendBytes(std::string bytes, DWORD cbData, HWND from) {
    COPYDATASTRUCT cds{};
    cds.cbData = cbData;
    cds.lpData = bytes.data();
    DWORD_PTR result = 0;
    const LRESULT ok = SendMessageTimeoutW(api_, WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                           reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000, &result);
    return ok != 0 && result != 0;
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestLink*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == self->attach_) return self->OnAttach(reinterpret_cast<HWND>(wParam), lParam);
    if (self != nullptr && message == WM_COPYDATA) {
      return self->OnCopyData(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  // As the product does: 0 attaches, 0x8001 forgets the client and discovers anew.
  LRESULT OnAttach(HWND api, LPARAM status) {
    attaches_.emplace_back(api, status);
    if (status == 0) api_ = api;
    if (status == static_cast<LPARAM>(sim::kAttachAvailable)) {
      api_ = nullptr;
      Discover();
    }
    return 1;
  }

  LRESULT OnCopyData(HWND sender, const COPYDATASTRUCT* cds) {
    if (sender != api_ || api_ == nullptr) {
      ++foreignCopies_;
      return 0;
    }
    const char* data = static_cast<const char*>(cds->lpData);
    received_.emplace_back(data != nullptr ? data : "", data != nullptr ? cds->cbData : 0);
    return 1;
  }

  UINT discover_ = 0;
  UINT attach_ = 0;
  HWND window_ = nullptr;
  HWND api_ = nullptr;
  std::vector<std::pair<HWND, LPARAM>> attaches_;
  std::vector<std::string> received_;
  int foreignCopies_ = 0;
};

class EmulatorE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(emulator_.Start()) << "the emulator's API window could not be made";
    ASSERT_NE(link_.Window(), nullptr);
  }

  void Attach() {
    link_.Discover();
    ASSERT_TRUE(WaitUntil([&] { return link_.Api() != nullptr; }, "attach status 0 at the test link"));
    ASSERT_EQ(reinterpret_cast<sim::Hwnd>(link_.Api()), emulator_.ApiWindow());
    ASSERT_EQ(emulator_.AttachedLink(), link_.Handle());
  }

  // Waits for the link to have received this many lines in all.
  ::testing::AssertionResult WaitForLines(std::size_t count, const std::string& after) {
    return WaitUntil([&] { return link_.Received().size() >= count; },
                     std::to_string(count) + " lines at the link after " + after);
  }

  ClientEmulator emulator_;
  TestLink link_;
};

TEST_F(EmulatorE2eTest, AnswersDiscoveryWithTheRequestedStatus) {
  const std::vector<std::uint32_t> statuses = {sim::kAttachSuccess, sim::kAttachRefused, sim::kAttachNotAvailable};
  for (std::uint32_t status : statuses) {
    emulator_.SetDiscoveryAnswer(status);
    const std::size_t before = link_.Attaches().size();
    link_.Discover();
    ASSERT_TRUE(WaitUntil([&] { return link_.Attaches().size() > before; },
                          "attach status " + std::to_string(status)));
    EXPECT_EQ(link_.Attaches().back().first, reinterpret_cast<HWND>(emulator_.ApiWindow()));
    EXPECT_EQ(link_.Attaches().back().second, static_cast<LPARAM>(status));
    EXPECT_EQ(emulator_.AttachedLink(), status == sim::kAttachSuccess ? link_.Handle() : 0) << status;
  }

  // Asked to stay silent, it records the discovery and answers nothing.
  emulator_.SetDiscoveryAnswer(std::nullopt);
  const std::size_t before = link_.Attaches().size();
  link_.Discover();
  char linkHex[32];
  std::snprintf(linkHex, sizeof linkHex, "0x%llx", static_cast<unsigned long long>(link_.Handle()));
  ASSERT_TRUE(WaitUntil([&] { return HasEntry(emulator_, Kind::AttachWithheld, linkHex); },
                        "the emulator to withhold its attach answer"));
  PumpMessages();
  EXPECT_EQ(link_.Attaches().size(), before);
}

struct Step {
  const char* what;
  std::function<bool(ClientEmulator&, TestLink&)> act;
  std::vector<std::string> lines;  // what the link receives, in order
};

// The call model's replies and notifications (whole cycles: CallModelTest) reach a real window in the
// order the model gives them, each a zero-terminated WM_COPYDATA, and are recorded as delivered.
TEST_F(EmulatorE2eTest, CarriesTheModelsLinesInOrder) {
  Attach();
  const auto send = [](const char* text) {
    return [text](ClientEmulator&, TestLink& link) { return link.Send(text); };
  };
  const std::vector<Step> steps = {
      {"incoming call", [](ClientEmulator& e, TestLink&) { return e.IncomingCall("caller") == "1234"; },
       {"CALL 1234 CONF_ID 0", "CALL 1234 STATUS RINGING"}},
      {"operator answers", [](ClientEmulator& e, TestLink&) { return e.OperatorAnswers("1234"); },
       {"CALL 1234 STATUS INPROGRESS"}},
      {"hold", send("#KALDU set call 1234 status onhold"),
       {"CALL 1234 STATUS LOCALHOLD", "#KALDU CALL 1234 STATUS LOCALHOLD"}},
      {"unknown call", send("#KALDU set call 1240 status onhold"),
       {"#KALDU ERROR 20 Unknown call"}},
      {"far end hangs up", [](ClientEmulator& e, TestLink&) { return e.FarEndHangsUp("1234"); },
       {"CALL 1234 STATUS FINISHED"}},
  };
  std::vector<std::string> expected;
  for (const Step& step : steps) {
    ASSERT_TRUE(step.act(emulator_, link_)) << step.what;
    expected.insert(expected.end(), step.lines.begin(), step.lines.end());
    ASSERT_TRUE(WaitForLines(expected.size(), step.what));
    EXPECT_EQ(link_.Lines(), expected) << "after " << step.what;
  }
  for (const std::string& r : link_.Received()) EXPECT_EQ(r.back(), '\0') << "each line zero-terminated within cbData";
  // The emulator records a line once the link has answered for it, so just after the link saw it.
  ASSERT_TRUE(WaitUntil([&] { return emulator_.SentLines().size() >= expected.size(); },
                        "the emulator to record its last line as delivered"));
  EXPECT_EQ(emulator_.SentLines(), expected);
  EXPECT_EQ(emulator_.Commands(),
            (std::vector<std::string>{"#KALDU set call 1234 status onhold", "#KALDU set call 1240 status onhold"}));
  EXPECT_TRUE(emulator_.LiveCalls().empty());
}

TEST_F(EmulatorE2eTest, NeverReplyAndLateReply) {
  Attach();
  emulator_.SetNeverReply(true);
  EXPECT_TRUE(link_.Send("#KALDU set AGC on"));
  emulator_.SetNeverReply(false);
  // Replies go out in order, so had the first been answered it would arrive before this one.
  EXPECT_TRUE(link_.Send("#KALDU open contacts"));
  ASSERT_TRUE(WaitForLines(1, "the second command's reply"));
  EXPECT_EQ(link_.Lines(), std::vector<std::string>{"#KALDU OPEN CONTACTS"});

  const auto delay = std::chrono::milliseconds(300);
  emulator_.SetReplyDelay(delay);
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_TRUE(link_.Send("#KALDU minimize"));
  ASSERT_TRUE(WaitForLines(2, "the late reply"));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, delay);
  EXPECT_EQ(link_.Lines().back(), "#KALDU OK");
}

struct RawCase {
  const char* what;
  std::function<bool(ClientEmulator&)> send;
  std::string bytes;  // as received within cbData
};

TEST_F(EmulatorE2eTest, SendsMalformedLinesExactlyAsAsked) {
  Attach();
  const std::string oversized(70000, 'X');
  const std::vector<RawCase> cases = {
      {"invalid UTF-8", [](ClientEmulator& e) { return e.SendBytes(std::string("\xC3\x28\xFF", 3) + '\0', 4); },
       std::string("\xC3\x28\xFF", 3) + '\0'},
      {"no terminating zero", [](ClientEmulator& e) { return e.SendBytes("CALL 77 STATUS RINGING", 22); },
       "CALL 77 STATUS RINGING"},
      {"cbData beyond the bytes is cut", [](ClientEmulator& e) { return e.SendBytes("ABC", 1000); }, "ABC"},
      {"zero inside", [](ClientEmulator& e) { return e.SendBytes(std::string("CALL\0 1 STATUS X", 16), 16); },
       std::string("CALL\0 1 STATUS X", 16)},
      {"malformed line", [](ClientEmulator& e) { return e.SendLine("CALL STATUS"); }, std::string("CALL STATUS") + '\0'},
      {"oversized line", [&](ClientEmulator& e) { return e.SendLine(oversized); }, oversized + '\0'},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    ASSERT_TRUE(cases[i].send(emulator_)) << cases[i].what;
    ASSERT_TRUE(WaitForLines(i + 1, cases[i].what));
    EXPECT_EQ(link_.Received()[i], cases[i].bytes) << cases[i].what;
  }

  // A line from a window that is not the API window: the link refuses it and the emulator records that.
  ASSERT_TRUE(emulator_.SendFromForeignWindow("CALL 1 STATUS RINGING"));
  ASSERT_TRUE(WaitUntil([&] { return link_.ForeignCopies() == 1; }, "the foreign window's message at the link"));
  ASSERT_TRUE(WaitUntil([&] { return HasEntry(emulator_, Kind::SendFailed, "CALL 1 STATUS RINGING"); },
                        "the refused foreign line in the transcript"));
  EXPECT_EQ(link_.Received().size(), cases.size());
}

TEST_F(EmulatorE2eTest, DropsUndecodableOrForeignCommands) {
  Attach();
  // Invalid UTF-8 is taken but not run; the client says it could not read it.
  EXPECT_TRUE(link_.SendBytes(std::string("#K \xC3\x28", 5) + '\0', 6, link_.Window()));
  ASSERT_TRUE(WaitForLines(1, "the error for an undecodable command"));
  EXPECT_EQ(link_.Lines().back(), "ERROR 1 General syntax error");
  // Bounded by cbData: the text is cut where cbData ends, even without a zero.
  EXPECT_TRUE(link_.SendBytes("#K minimize and more", 11, link_.Window()));
  ASSERT_TRUE(WaitForLines(2, "the reply to a command bounded by cbData"));
  EXPECT_EQ(link_.Lines().back(), "#K OK");
  // A sender that is not the attached link is answered 0.
  TestLink other;
  EXPECT_FALSE(link_.SendBytes(std::string("#K minimize") + '\0', 12, other.Window()));
  EXPECT_EQ(emulator_.Commands(), std::vector<std::string>{"#K minimize"});
}

}  // namespace
}  // namespace halvane::e2e
