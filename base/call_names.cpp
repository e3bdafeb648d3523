#include "base/call_names.h"

namespace halvane {

void CallNames::Store(std::string_view id, std::string_view name, bool displayName) {
  if (id.empty() || name.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& entry : entries_) {
    if (entry.id != id) continue;
    if (displayName || !entry.displayName) entry = Entry{std::string(id), std::string(name), displayName};
    return;
  }
  entries_[next_] = Entry{std::string(id), std::string(name), displayName};
  next_ = (next_ + 1) % kMostNames;
}

std::string CallNames::NameOf(std::string_view id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& entry : entries_) {
    if (!id.empty() && entry.id == id) return entry.name;
  }
  return std::string();
}

}  // namespace halvane
