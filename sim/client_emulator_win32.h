#pragma once
// A stand-in for the voice client's desktop API, hosted in-process on a thread of its own: a hidden
// top-level API window that answers the discovery broadcast, takes commands as WM_COPYDATA, runs them
// through the call model and sends replies and notifications back to the attached link window. Every
// public member may be called from any thread. Handles are carried as integers so that this header
// needs no <windows.h>.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/call_model.h"

namespace halvane::sim {

using Hwnd = std::uintptr_t;

// Attach statuses the client sends in answer to a discovery.
inline constexpr std::uint32_t kAttachSuccess = 0;
inline constexpr std::uint32_t kAttachRefused = 2;
inline constexpr std::uint32_t kAttachNotAvailable = 3;
inline constexpr std::uint32_t kAttachAvailable = 0x8001;

struct TranscriptEntry {
  enum class Kind {
    Discovery,         // a discovery broadcast arrived; text holds the link window in hex
    AttachSent,        // an attach status went out; text holds the status in hex
    AttachWithheld,    // a discovery was left unanswered on request
    Command,           // a command was accepted (the text as received)
    CommandRefused,    // a command arrived while deliveries are refused (answered 0)
    CommandUndecodable,  // a WM_COPYDATA whose text was not UTF-8 or came from an unknown window
    Sent,              // a line was delivered to the link window
    SendFailed,        // a line the link window answered 0 to, or did not take in time
  };
  Kind kind;
  std::string text;
  // QueryPerformanceCounter's count when it happened; for a sent line, when its delivery began (the
  // link may answer with a command before the delivery returns).
  std::int64_t ticks = 0;
};

const char* KindName(TranscriptEntry::Kind kind);

class ClientEmulator {
 public:
  explicit ClientEmulator(CallModel::Options options = {});
  ~ClientEmulator();
  ClientEmulator(const ClientEmulator&) = delete;
  ClientEmulator& operator=(const ClientEmulator&) = delete;

  // Starts the API thread and waits (bounded) until its windows exist. False when they could not be made.
  bool Start();
  // Ends the thread; queued lines not yet sent are dropped. Also run by the destructor.
  void Stop();
  // Tells every window that the API is available (attach status 0x8001), as the client does when it
  // starts: a program that started first then discovers it again. False when it could not be posted.
  bool AnnounceAvailable();

  Hwnd ApiWindow() const;
  // The link window this client is attached to; 0 while none.
  Hwnd AttachedLink() const;

  // --- Fault knobs -------------------------------------------------------------------------------
  // The status to answer the next discoveries with; nullopt answers nothing. Default kAttachSuccess.
  void SetDiscoveryAnswer(std::optional<std::uint32_t> status);
  // Answer every WM_COPYDATA with 0, as a client that considers the connection broken.
  void SetRefuseDeliveries(bool refuse);
  // Accept commands but send nothing back.
  void SetNeverReply(bool never);
  // Hold back the lines a command causes for this long.
  void SetReplyDelay(std::chrono::milliseconds delay);
  // Block inside the next command's WM_COPYDATA for this long before handling it, as a client busy
  // elsewhere does: the sender waits, and nothing else reaches the client meanwhile.
  void StallNextCommand(std::chrono::milliseconds stall);
  // Re-login: tells the attached link 0x8001, forgets it, and attaches again (with the discovery answer)
  // when the link broadcasts its discovery anew. False when not attached.
  bool ReLogin();
  // A restart: the client forgets every call (their ids are then unknown), then tells the link as
  // ReLogin does. False when not attached.
  bool Restart();
  // The next join, or the next hold, is answered with an error and changes nothing.
  void RefuseNextJoin();
  void RefuseNextHold();
  // The next command's reply never comes, or comes kLateReply after the others (later than a program
  // waits for it).
  static constexpr std::chrono::milliseconds kLateReply{7000};
  void LoseNextReply();
  void DelayNextReply();
  // Sends a line as the client would (UTF-8, zero-terminated). False when not attached.
  bool SendLine(const std::string& text);
  // Sends bytes exactly as given with this cbData: malformed, unterminated, oversized or invalid UTF-8.
  // cbData larger than the bytes is cut to their size, so nothing outside them is ever handed over.
  bool SendBytes(const std::string& bytes, std::uint32_t cbData);
  // Sends a line with a window other than the API window as the sender.
  bool SendFromForeignWindow(const std::string& text);

  // --- Outside events: run through the call model, their notifications queued to the link ---------
  std::string IncomingCall(const std::string& from);  // the new call's id
  std::string OperatorDials(const std::string& to);   // the new call's id
  bool OperatorAnswers(const std::string& id);
  bool OperatorHolds(const std::string& id);
  bool OperatorResumes(const std::string& id);
  bool OperatorHangsUp(const std::string& id);
  bool OperatorCancels(const std::string& id);
  bool FarEndAnswers(const std::string& id);
  bool FarEndRefuses(const std::string& id);
  bool FarEndBusy(const std::string& id);
  bool Missed(const std::string& id);
  bool FarEndFails(const std::string& id, int reason);
  bool FarEndHangsUp(const std::string& id);
  bool OperatorSwitchesTo(const std::string& id);  // the call talking is held, then this one resumed
  bool VoicemailTakes(const std::string& id);      // greeting and recording; a hang-up closes it
  // The real client's further events and pushes (see CallModel); a talking call's DURATION each second
  // and its VIDEO_STATUS and VAA_INPUT_STATUS once it talks, while SetPushProperties is on.
  bool FarEndHolds(const std::string& id);
  bool FarEndResumes(const std::string& id);
  bool NumberRejects(const std::string& id);
  bool ClientTransfers(const std::string& id);
  bool SignOut();
  void SetPushProperties(bool push);
  // The far end's display name, given on GET CALL <id> PARTNER_DISPNAME. False for an unknown call.
  bool NameCall(const std::string& id, const std::string& name);
  // (Stop is the API window vanishing without a word; Start makes a new one that does not announce
  // itself, to be found by the program's own look.)

  // --- What happened -----------------------------------------------------------------------------
  std::vector<TranscriptEntry> Transcript() const;
  // The accepted commands' texts, oldest first; with their tags' numbers left out (WithoutTagNumber).
  std::vector<std::string> Commands() const;
  std::vector<std::string> UnnumberedCommands() const;
  // The lines delivered to the link window, oldest first.
  std::vector<std::string> SentLines() const;
  // Grows with every transcript entry; a viewer refreshes when it changed.
  std::uint64_t TranscriptVersion() const;
  // The call's last reported status, empty when unknown.
  std::string CallStatus(const std::string& id) const;
  // The ids of the calls that have not ended, in the order of their id texts.
  std::vector<std::string> LiveCalls() const;

  // Internal: called on the API thread by its window procedure.
  std::intptr_t OnMessage(Hwnd window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

 private:
  struct Outgoing {
    std::chrono::steady_clock::time_point due;
    std::string bytes;
    std::uint32_t cbData;
    bool foreign;
  };

  void Run();
  bool Queue(const Lines& lines, std::chrono::milliseconds delay);
  bool QueueOne(Outgoing item);
  void Wake();
  void Flush();
  void AnswerDiscovery(Hwnd link);
  std::intptr_t OnCopyData(Hwnd sender, const void* copyData);
  void Record(TranscriptEntry::Kind kind, std::string text);
  void Record(TranscriptEntry::Kind kind, std::string text, std::int64_t ticks);
  bool Event(Lines (CallModel::*event)(std::string_view), const std::string& id);
  void Tick();

  // The call model and the transcript, shared between the API thread and callers.
  mutable std::mutex mutex_;
  CallModel model_;
  std::vector<TranscriptEntry> transcript_;
  std::uint64_t version_ = 0;
  std::deque<Outgoing> outbox_;
  std::optional<std::uint32_t> discoveryAnswer_ = kAttachSuccess;
  bool refuse_ = false;
  bool neverReply_ = false;
  std::chrono::milliseconds replyDelay_{0};
  std::chrono::milliseconds stallNext_{0};
  Hwnd link_ = 0;

  // Set once by the API thread before Start returns, cleared by Stop.
  Hwnd api_ = 0;
  Hwnd foreign_ = 0;
  unsigned discoverMessage_ = 0;
  unsigned attachMessage_ = 0;
  std::thread thread_;
  std::condition_variable started_;
  bool ready_ = false;
  bool failed_ = false;
};

// A top-level window whose thread stops taking messages, as a hung program's does: a broadcast that
// waits on every window meets it. Hangs until Release, the destructor, or its bound runs out.
class HungWindow {
 public:
  HungWindow() = default;
  ~HungWindow();
  HungWindow(const HungWindow&) = delete;
  HungWindow& operator=(const HungWindow&) = delete;

  // Makes the window and stops its thread for at most `bound`. False when the window could not be made.
  bool Start(std::chrono::milliseconds bound);
  void Release();
  Hwnd Window() const { return window_; }

 private:
  void Run(std::chrono::milliseconds bound);

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false;
  bool released_ = false;
  Hwnd window_ = 0;
};

}  // namespace halvane::sim
