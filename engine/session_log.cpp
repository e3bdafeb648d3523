#include "engine/session_log.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/path.h"

namespace halvane {

SessionLog::SessionLog(const CallBoard& board, std::string folder) : board_(board), folder_(std::move(folder)) {}

std::string SessionLog::FilePathFor(std::string_view handle) const {
  // The "log(" prefix keeps even a device name such as "con" an ordinary file name.
  const std::string name = "log(" + SafeFileNamePart(handle, kMaxHandleChars) + ").txt";
  return JoinPath(JoinPath(folder_, "log"), name);
}

void SessionLog::WriteLog(const char* given) {
  if (given == nullptr) return;
  const std::string handle = board_.userHandle.Load();

  std::lock_guard<std::mutex> lock(mutex_);
  // Progress lines carry their break in front and warnings theirs at the end, so a warning after a
  // progress line would run on from it: it gets a line of its own.
  const bool warning = std::strncmp(given, "!!!", 3) == 0;
  const std::string joined = warning && !lineEnded_ ? "\n" + std::string(given) : std::string(given);
  const char* const text = joined.c_str();
  const std::size_t length = joined.size();
  if (handle.empty()) {
    // Held back whole or not at all.
    if (pendingLength_ + length < kPendingSize) {
      std::memcpy(pending_ + pendingLength_, text, length);
      pendingLength_ += length;
      pending_[pendingLength_] = '\0';
      if (length != 0) lineEnded_ = text[length - 1] == '\n';
    }
    return;
  }

  // Opened and closed on every call, so the file is complete whenever another program reads it.
  std::FILE* file = std::fopen(FilePathFor(handle).c_str(), "a");
  if (file == nullptr) return;
  if (pendingLength_ != 0) {
    std::fwrite(pending_, 1, pendingLength_, file);
    pendingLength_ = 0;
    pending_[0] = '\0';
  }
  std::fwrite(text, 1, length, file);
  std::fclose(file);
  if (length != 0) lineEnded_ = text[length - 1] == '\n';
}

}  // namespace halvane
