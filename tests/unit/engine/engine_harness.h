#pragma once
// A scripted world for the transfer engine in virtual time: the clock's Sleep runs the script's events
// (client lines through the real parser, operator presses) as they fall due; a fake client answers every
// command; commands, buttons, mixer, phases and log go into one trace, each with its virtual time.

#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/call_board.h"
#include "base/clock.h"
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

inline std::string TagOf(const std::string& command) { return command.substr(0, command.find(' ') + 1); }  // "#KALDU7 "

// "5500 send #KALDU4 set AGC on", "5600 item 1002 on", "7100 phase caller on hold", ...
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
  void SetLimit(std::uint64_t limit, std::function<void()> onLimit) { limit_ = limit, onLimit_ = std::move(onLimit); }
  std::uint64_t now() const { return now_; }

 private:
  std::uint64_t now_ = 0;
  std::uint64_t limit_ = UINT64_MAX;
  std::function<void()> onLimit_;
  std::multimap<std::uint64_t, std::function<void()>> events_;  // equal times keep their script order
};

// The client as the engine meets it: delivery needs an API window; every delivered command is answered
// with the tagged reply the client gives, unless `silent` or `override` says otherwise.
class ScriptClient final : public CommandSender {
 public:
  ScriptClient(CallBoard& board, ScriptClock& clock, Trace& trace) : board_(board), clock_(clock), trace_(trace) {}

  bool SendCommand(const char* text) override {
    AwaitReplyTo(board_, text);
    const std::string command(text);
    const bool attached = board_.apiWindow.load() != 0;
    trace_.push_back(std::to_string(clock_.now()) + (attached ? " send " : " unsent ") + command);
    if (!attached) return false;
    sent.push_back({clock_.now(), command});
    if (silent) return true;
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
    const std::string tag = TagOf(command);
    std::string words = command.substr(tag.size());
    for (char& c : words) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (words.rfind("SET CALL ", 0) == 0) {
      const std::string rest = words.substr(9);
      const std::string id = rest.substr(0, rest.find(' '));
      const bool status = rest.find(" STATUS ") != std::string::npos;
      return tag + "CALL " + id + (status ? rest.substr(id.size()) : " CONF_ID 5");
    }
    if (words == "GET CURRENTUSERHANDLE") return tag + "CURRENTUSERHANDLE operator1";
    const std::size_t name = words.find(" PARTNER_DISPNAME");
    if (name != std::string::npos) return tag + words.substr(4) + " Party";
    return tag + words;
  }

  struct Sent {
    std::uint64_t time;
    std::string text;
  };
  std::vector<Sent> sent;  // delivered commands only
  bool silent = false;     // no reply at all
  // When set and answering non-empty, its line replaces the usual reply ("none": no reply at all).
  std::function<std::string(const std::string&)> override;

 private:
  CallBoard& board_;
  ScriptClock& clock_;
  Trace& trace_;
};

// The buttons, the mixer and the call's phase as the engine sets them.
class Desk final : public DialogItems, public AudioRouting, public CallPhases {
 public:
  Desk(ScriptClock& clock, Trace& trace) : clock_(clock), trace_(trace) {}
  void EnableItem(WindowHandle dialog, int id, bool enable) override {
    dialogs.insert(dialog);
    Add("item " + std::to_string(id) + (enable ? " on" : " off"));
  }
  int SelectRecordSource(const char* source, std::int32_t level) override {
    return Add(std::string("audio record ") + source + " " + std::to_string(level));
  }
  int ApplySpeakerMute(std::uint8_t mute) override { return Add("audio speaker mute " + std::to_string(mute)); }
  int ApplyMicPlaybackMute(std::uint8_t mute) override { return Add("audio mic playback mute " + std::to_string(mute)); }
  void PhaseChanged(CallPhase phase) override {
    static const char* const kNames[] = {"at rest", "call active", "caller on hold", "joined"};
    Add(std::string("phase ") + kNames[static_cast<int>(phase)]);
  }
  std::set<WindowHandle> dialogs;  // every dialog an item was switched in

 private:
  int Add(const std::string& what) {
    trace_.push_back(std::to_string(clock_.now()) + " " + what);
    return 1;
  }
  ScriptClock& clock_;
  Trace& trace_;
};

// One scenario: the board starts attached (API window 7) with the main window 42, the script is
// written with At/Line/Status and the presses, and Run lets the engine go until a virtual time.
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
  void Hold(std::uint64_t time) { At(time, [this] { OnHold(board, desk); }); }
  void Transfer(std::uint64_t time) { At(time, [this] { OnTransfer(board); }); }
  void Return(std::uint64_t time) { At(time, [this] { OnReturn(board); }); }
  void BlindTransfer(std::uint64_t time) { At(time, [this] { OnBlindTransfer(board); }); }

  void Run(std::uint64_t until) {
    clock.SetLimit(until, [this] { engine.RequestStop(); });
    clock.RunDue();
    engine.RunTransferEngine();
  }

  Trace Only(const std::string& part) const {  // the trace entries that contain `part`
    Trace out;
    for (const auto& entry : trace) if (entry.find(part) != std::string::npos) out.push_back(entry);
    return out;
  }
  // Delivered commands from `from` on, each after its time: "5500 #KALDU5 set AGC on".
  std::vector<std::string> CommandsFrom(std::uint64_t from) const {
    std::vector<std::string> out;
    for (const auto& sent : client.sent) if (sent.time >= from) out.push_back(std::to_string(sent.time) + " " + sent.text);
    return out;
  }

  Trace trace;
  CallBoard board;
  ScriptClock clock;
  ScriptClient client{board, clock, trace};
  Desk desk{clock, trace};
  test::RecordingLog log;
  TransferEngine engine{board, client, clock, desk, desk, log, desk};
};

}  // namespace testing_engine
}  // namespace halvane
