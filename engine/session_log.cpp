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

void SessionLog::WriteLog(const char* text) {
  if (text == nullptr) return;
  const std::size_t length = std::strlen(text);
  const std::string handle = board_.userHandle.Load();

  std::lock_guard<std::mutex> lock(mutex_);
  if (handle.empty()) {
    // Held back whole or not at all.
    if (pendingLength_ + length < kPendingSize) {
      std::memcpy(pending_ + pendingLength_, text, length);
      pendingLength_ += length;
      pending_[pendingLength_] = '\0';
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
}

}  // namespace halvane
