#pragma once
// The session log: every text appended, unchanged, to "log(<user handle>).txt" in the folder "log".
// Texts that come before the user handle is known wait in a small buffer and go out ahead of the first
// text that comes after it.

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "base/call_board.h"
#include "base/log_writer.h"

namespace halvane {

class SessionLog final : public LogWriter {
 public:
  // Room of the held-back buffer, terminator included.
  static constexpr std::size_t kPendingSize = 1024;
  // The room for the handle in the platform's 256-byte file-name buffer of "log\log(...).txt".
  static constexpr std::size_t kMaxHandleChars = 256 - 14;

  // `folder` holds the "log" folder; empty for the current directory. The "log" folder is never created.
  explicit SessionLog(const CallBoard& board, std::string folder = std::string());

  // Safe from any thread: texts never interleave. A warning ("!!! ...") always starts a line of its own. Failures are silent; a text that cannot be written
  // is lost, while held-back texts wait for a later call that can open the file.
  void WriteLog(const char* text) override;

  // The file a handle's texts go to.
  std::string FilePathFor(std::string_view handle) const;

 private:
  const CallBoard& board_;
  const std::string folder_;
  std::mutex mutex_;
  char pending_[kPendingSize] = {};
  std::size_t pendingLength_ = 0;
  // Whether the last text kept ended its line; unknown at start (the file may end mid-line).
  bool lineEnded_ = false;
};

}  // namespace halvane
