#pragma once
// The client's text protocol: the commands we send (tagged with kCommandTag) and what a received line
// changes on the call board.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/call_board.h"
#include "base/log_writer.h"
#include "link/codepage.h"
#include "link/command_sender.h"

namespace halvane {

// Every command's tag is kCommandTag followed by the command's own number ("#KALDU17"); the client
// echoes it, then one blank, on its reply.
inline constexpr char kCommandTag[] = "#KALDU";

// The protocol asked for at every connect: the first that tells our hold (LOCALHOLD) from the far
// end's (REMOTEHOLD). A client never asked speaks protocol 1, reporting both as ONHOLD.
inline constexpr int kProtocolAsked = 5;

// Command formats; the first %s takes the numbered tag, further ones call ids.
namespace command {
inline constexpr char kProtocol[] = "%s protocol 5";
inline constexpr char kGetCurrentUserHandle[] = "%s get currentuserhandle";
inline constexpr char kOpenContacts[] = "%s open contacts";
inline constexpr char kAgcOn[] = "%s set AGC on";
inline constexpr char kAgcOff[] = "%s set AGC off";
inline constexpr char kHold[] = "%s set call %s status onhold";
inline constexpr char kResume[] = "%s set call %s status inprogress";
inline constexpr char kHangUp[] = "%s set call %s status finished";
inline constexpr char kJoin[] = "%s set call %s join_conference %s";
inline constexpr char kNoReleased[] = "%s btn_released no";
inline constexpr char kMinimize[] = "%s minimize";
inline constexpr char kGetCallStatus[] = "%s get call %s status";
inline constexpr char kSearchActiveCalls[] = "%s search activecalls";
inline constexpr char kGetPartnerName[] = "%s get call %s partner_dispname";
inline constexpr char kGetPartnerHandle[] = "%s get call %s partner_handle";
}  // namespace command

// Room for any command of the table above with two call ids at their full width.
inline constexpr std::size_t kCommandBufferSize = 128;

// Formats one command into buffer: the tag numbered `number`, then id1 and id2 for the format's further
// %s. False (and an empty buffer) when the format holds anything but %s, when a call id it needs is
// missing or empty, or when the text does not fit.
bool FormatCommand(char* buffer, std::size_t size, const char* format, const char* id1, const char* id2,
                   std::uint32_t number);

// The number in the tag a command or reply starts with ("#KALDU17 ..." gives 17); 0 when the text has
// no numbered tag (no command is numbered 0).
std::uint32_t TagNumber(const char* text);

// Before a command goes out: its reply is the one waited for from now on.
void AwaitReplyTo(CallBoard& board, const char* command);

// How one delivery ended. Only the client's explicit 0 is a refusal: a client busy past the bound has
// not said anything about the connection.
enum class DeliveryResult {
  kAccepted,  // the client handled it and answered non-zero
  kRefused,   // the client answered 0: it considers the connection broken
  kTimedOut,  // the client did not handle it within the bound (busy or hung); it may still do so
  kGone,      // the target window no longer exists: the client went away
  kNotDelivered,  // the platform gave it up at once (the window counts as hung): it never arrives
};

// Hands one wire message to the client's API window: WM_COPYDATA with dwData 0, cbData = size (the
// UTF-8 text and its terminating zero), wParam = sender. Bounded in time.
class Delivery {
 public:
  virtual ~Delivery() = default;
  virtual DeliveryResult Deliver(WindowHandle target, WindowHandle sender, const char* data,
                                 std::uint32_t size) = 0;
};

inline constexpr char kLogDeliveryStalled[] = "!!! Skype did not take a command in time\n";
// Written when a stall that cost commands ends, with how many it cost.
inline constexpr char kLogNotDelivered[] = "!!! Skype was not responding; commands not delivered: %u\n";

// The sending half of the link: converts and delivers commands to the attached client.
class CommandLink final : public CommandSender {
 public:
  // log (optional) hears of a client that did not take a command in time.
  CommandLink(CallBoard& board, Delivery& delivery, CodePage& codePage, LogWriter* log = nullptr);

  // Awaits the reply to this command first (AwaitReplyTo), whatever follows; skips when not attached. A refused delivery,
  // or one to a window that is gone, forgets the API window and prints "!!! Disconnected\n". A delivery
  // that ran out of time keeps the client and counts as sent (the reply wait decides what follows); the
  // first of a run of them is logged. One the platform gave up at once keeps the client but counts as
  // not sent; their number is logged when the stall ends. True when delivered or timed out.
  bool SendCommand(const char* text) override;

  // True once after a delivery made the link forget the client (refused, or the window is gone); the
  // link thread takes it to look for the client again.
  bool TakeClientLost() { return clientLost_.exchange(false); }
  // Any thread: the client's window is known to be gone. Forgets it as a refused delivery does (unless
  // a new attach recorded another meanwhile); nothing was sent, so nothing is printed.
  void ForgetClient(WindowHandle window);

  // The link window, the sender of every command; set by the link thread while it owns one.
  void SetLinkWindow(WindowHandle window) { linkWindow_.store(window); }
  WindowHandle LinkWindow() const { return linkWindow_.load(); }

 private:
  // Ends a stall: logs how many commands it cost, if any.
  void EndStall();

  CallBoard& board_;
  Delivery& delivery_;
  CodePage& codePage_;
  LogWriter* log_;
  std::atomic<WindowHandle> linkWindow_{0};
  std::atomic<bool> clientLost_{false};
  bool stalled_ = false;  // worker thread only: the last delivery ran out of time or was given up
  unsigned notDelivered_ = 0;  // worker thread only: commands this stall cost
};

// Applies one received line (already in the local code page) to the call board. A line is a reply when
// it starts with the tag ("#KALDU<n> "), a notification otherwise; only where the client puts them are
// its words read, whatever else a line holds (contacts' mood texts, names and chat topics are written by
// other people): a status line is "CALL <id> STATUS <status>" at the start of a notification or right
// after a reply's tag, and sets the current call id and status and goes to the call table; a reply
// "CURRENTUSERHANDLE <handle>" sets the user handle, "PROTOCOL <n>" the client's protocol; the awaited reply
// "CALLS <id>, <id>" sets the live calls. The reply to
// the awaited command marks it received (and whether it was an error); every error reply leaves its
// number. Nothing outside the line or a field is read or written.
void ParseNotification(CallBoard& board, const char* line);

}  // namespace halvane
