#pragma once
// Sending one command text to the client, as the engine sees it.

namespace halvane {

class CommandSender {
 public:
  virtual ~CommandSender() = default;
  // Clears the reply-received flag, then delivers the text if attached. True when the client
  // accepted the delivery, so that a reply can be expected; false when nothing was delivered.
  virtual bool SendCommand(const char* text) = 0;
};

}  // namespace halvane
