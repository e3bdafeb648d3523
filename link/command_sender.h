#pragma once
// Sending one command text to the client, as the engine sees it.

namespace halvane {

class CommandSender {
 public:
  virtual ~CommandSender() = default;
  // Clears the reply-received flag, then delivers the text if attached. True when the command reached
  // the client's window (accepted, or still with a client too busy to take it in time), so that a reply
  // may come; false when nothing was delivered (not attached, refused, or given up at once by the
  // platform because the client's window is hung).
  virtual bool SendCommand(const char* text) = 0;
};

}  // namespace halvane
