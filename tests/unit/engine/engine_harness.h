#pragma once
// A scripted world for the transfer engine in virtual time: the clock's Sleep advances time at once and
// runs the script events that fall due (client lines through the real parser, operator presses); a fake client records every
// command and answers it the way the client does; the buttons, the mixer and the log are recorded with
// the virtual time at which the engine touched them.

#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "base/call_board.h"
#include "base/clock.h"
#include "base/log_writer.h"
#include "engine/audio_routing.h"
#include "engine/call_phases.h"
#include "engine/operator_requests.h"
#include "engine/transfer_engine.h"
#include "link/command_sender.h"
#include "link/fake_code_page.h"
#include "link/partner_name.h"
#include "link/protocol.h"
#include "recording_fakes.h"

namespace halvane {
namespace testing_engine {

inline std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

inline std::string TagOf(const std::string& command) { return command.substr(0, command.find(' ') + 1); }  // "#KALDU7 "

// Everything the engine did, in order, each entry prefixed by its virtual time: "5500 send #KALDU4 set AGC on".
using Trace = std::vector<std::string>;

class ScriptClock final : public Clock {
 public:
  // Events run at their own time within the sleep, so what they record carries that time.
  void Sleep(std::uint32_t milliseconds) override {
    const std::uint64_t wake = now_ + milliseconds;
    while (!events_.empty() && events_.begin()->first <= wake) {
      if (events_.begin()->first > now_) now_ = events_.begin()->first;
      RunDue();
    }
    now_ = wake;
    if (now_ >= limit_ && onLimit_) onLimit_();
  }
  std::uint64_t NowMs() override { return now_; }

  void At(std::uint64_t time, std::function<void()> event) { events_.emplace(time, std::move(event)); }
  void RunDue() {
    while (!events_.empty() && events_.begin()->first <= now_) {
      auto event = std::move(events_.begin()->second);
      events_.erase(events_.begin());
      event();
    }
  }
  void SetLimit(std::uint64_t limit, std::function<void()> onLimit) {
    limit_ = limit;
    onLimit_ = std::move(onLimit);
  }
  std::uint64_t now() const { return now_; }

 private:
  std::uint64_t now_ = 0;
  std::uint64_t limit_ = UINT64_MAX;
  std::function<void()> onLimit_;
  std::multimap<std::uint64_t, std::function<void()>> events_;  // equal times keep their script order
};

// The client as the engine meets it: delivery needs an API window; every delivered command is answered
// with the tagged reply the client gives, unless the scenario says otherwise.
class ScriptClient final : public CommandSender {
 public:
  enum class Reply { kAtOnce, kNever };

  ScriptClient(CallBoard& board, ScriptClock& clock, Trace& trace) : board_(board), clock_(clock), trace_(trace) {}

  bool SendCommand(const char* text) override {
    AwaitReplyTo(board_, text);
    const std::string command(text);
    const bool attached = board_.apiWindow.load() != 0;
    trace_.push_back(std::to_string(clock_.now()) + (attached ? " send " : " unsent ") + command);
    if (attached) sent.push_back({clock_.now(), command});
    if (!attached) return false;
    if (reply == Reply::kNever) return true;
    std::string line = override ? override(command) : std::string();
    if (line == "none") return true;
    if (line.empty()) line = ReplyTo(command);
    test::FakeCodePage codePage;
    ReadPartnerName(codePage, line.c_str(), board_.names);  // as the link reads a far end's name
    ParseNotification(board_, line.c_str());
    return true;
  }

  // The client's own answer to one of our commands, its tag echoed as sent.
  static std::string ReplyTo(const std::string& command) {
    const std::string tag = command.substr(0, command.find(' ') + 1);
    std::string words = command.substr(tag.size());
    const std::string setCall = "set call ";
    if (words.rfind(setCall, 0) == 0) {
      const std::string rest = words.substr(setCall.size());
      const std::size_t blank = rest.find(' ');
      const std::string id = rest.substr(0, blank);
      const std::string what = rest.substr(blank + 1);
      if (what.rfind("status ", 0) == 0) return tag + "CALL " + id + " STATUS " + Upper(what.substr(7));
      return tag + "CALL " + id + " CONF_ID 5";
    }
    if (words == "get currentuserhandle") return tag + "CURRENTUSERHANDLE operator1";
    if (words.size() > 17 && words.compare(words.size() - 17, 17, " partner_dispname") == 0) return tag + Upper(words.substr(4)) + " Party";
    return tag + Upper(words);
  }

  struct Sent {
    std::uint64_t time;
    std::string text;
    bool operator==(const Sent& other) const { return time == other.time && text == other.text; }
    // A failed comparison reads "{5500 ms, "#KALDU set AGC on"}".
    friend void PrintTo(const Sent& sent, std::ostream* out) {
      *out << "{" << sent.time << " ms, \"" << sent.text << "\"}";
    }
  };
  std::vector<Sent> sent;  // delivered commands only
  Reply reply = Reply::kAtOnce;
  // When set and answering non-empty, its line replaces the usual reply ("none": no reply at all).
  std::function<std::string(const std::string&)> override;

 private:
  CallBoard& board_;
  ScriptClock& clock_;
  Trace& trace_;
};

class RecordingItems final : public DialogItems {
 public:
  RecordingItems(ScriptClock& clock, Trace& trace) : clock_(clock), trace_(trace) {}
  void EnableItem(WindowHandle dialog, int id, bool enable) override {
    dialogs.insert(dialog);
    trace_.push_back(std::to_string(clock_.now()) + " item " + std::to_string(id) + (enable ? " on" : " off"));
  }
  std::set<WindowHandle> dialogs;  // every dialog an item was switched in

 private:
  ScriptClock& clock_;
  Trace& trace_;
};

class RecordingRouting final : public AudioRouting {
 public:
  RecordingRouting(ScriptClock& clock, Trace& trace) : clock_(clock), trace_(trace) {}
  int SelectRecordSource(const char* source, std::int32_t level) override {
    Add(std::string("record ") + source + " " + std::to_string(level));
    return 1;
  }
  int ApplySpeakerMute(std::uint8_t mute) override {
    Add("speaker mute " + std::to_string(mute));
    return 1;
  }
  int ApplyMicPlaybackMute(std::uint8_t mute) override {
    Add("mic playback mute " + std::to_string(mute));
    return 1;
  }

 private:
  void Add(const std::string& what) { trace_.push_back(std::to_string(clock_.now()) + " audio " + what); }
  ScriptClock& clock_;
  Trace& trace_;
};

class RecordingPhases final : public CallPhases {
 public:
  RecordingPhases(ScriptClock& clock, Trace& trace) : clock_(clock), trace_(trace) {}
  void PhaseChanged(CallPhase phase) override {
    static const char* const kNames[] = {"at rest", "call active", "caller on hold", "joined"};
    trace_.push_back(std::to_string(clock_.now()) + " phase " + kNames[static_cast<int>(phase)]);
  }

 private:
  ScriptClock& clock_;
  Trace& trace_;
};

// One scenario: the board starts attached (API window 7) with the main window 42, the script is
// written with At/Line/Status/Press, and Run lets the engine go until a virtual time.
struct Scenario {
  static constexpr WindowHandle kMainWindow = 42;

  Scenario() {
    log.also = [this](const char* text) { trace.push_back(std::to_string(clock.now()) + " log " + text); };
    board.apiWindow.store(7);
    board.mainWindow.store(kMainWindow);
  }

  void At(std::uint64_t time, std::function<void()> event) { clock.At(time, std::move(event)); }
  void Line(std::uint64_t time, const std::string& line) {
    At(time, [this, line] { ParseNotification(board, line.c_str()); });
  }
  void Status(std::uint64_t time, const std::string& id, const std::string& status) {
    Line(time, "CALL " + id + " STATUS " + status);
  }
  void Hold(std::uint64_t time) {
    At(time, [this] { OnHold(board, items); });
  }
  void Transfer(std::uint64_t time) {
    At(time, [this] { OnTransfer(board); });
  }
  void Return(std::uint64_t time) {
    At(time, [this] { OnReturn(board); });
  }
  void BlindTransfer(std::uint64_t time) {
    At(time, [this] { OnBlindTransfer(board); });
  }

  // From start-up (or from where RunUntil left it) until `until` (virtual ms).
  void Run(std::uint64_t until) {
    clock.SetLimit(until, [this] { engine.RequestStop(); });
    clock.RunDue();
    if (!started_) {
      started_ = true;
      engine.RunTransferEngine();
      return;
    }
    while (!engine.StopRequested() && engine.State() != EngineState::kStopped) engine.Step();
  }
  // Runs on (or from start-up) until the engine enters `state`; false if the limit came first.
  bool RunUntil(EngineState state, std::uint64_t limit) {
    clock.SetLimit(limit, [this] { engine.RequestStop(); });
    clock.RunDue();
    if (!started_) {
      started_ = true;
      if (!engine.StartUp()) return false;
    }
    return engine.RunUntil(state) == state;
  }

  // The trace entries that contain `part`.
  Trace Only(const std::string& part) const {
    Trace out;
    for (const auto& entry : trace) {
      if (entry.find(part) != std::string::npos) out.push_back(entry);
    }
    return out;
  }
  // Delivered commands from `from` on, text only.
  std::vector<std::string> CommandsFrom(std::uint64_t from) const {
    std::vector<std::string> out;
    for (const auto& sent : client.sent) {
      if (sent.time >= from) out.push_back(sent.text);
    }
    return out;
  }

  Trace trace;
  CallBoard board;
  ScriptClock clock;
  ScriptClient client{board, clock, trace};
  RecordingItems items{clock, trace};
  RecordingRouting routing{clock, trace};
  test::RecordingLog log;
  RecordingPhases phases{clock, trace};
  TransferEngine engine{board, client, clock, items, routing, log, phases};

 private:
  bool started_ = false;
};

}  // namespace testing_engine
}  // namespace halvane
