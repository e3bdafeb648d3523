#include "base/call_table.h"

#include <algorithm>

namespace halvane {
namespace {

std::string_view Cut(std::string_view text, std::size_t capacity) {
  const std::size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  return text.size() > capacity ? text.substr(0, capacity) : text;
}

}  // namespace

bool IsCallEnd(std::string_view status) {
  for (const char* word : {"FINISHED", "FAILED", "MISSED", "REFUSED", "BUSY", "CANCELLED", "VM_SENT",
                           "VM_CANCELLED", "VM_FAILED", "TRANSFERRED"}) {
    if (status == word) return true;
  }
  return false;
}

void CallTable::Report(std::string_view id, std::string_view status) {
  id = Cut(id, kIdCapacity);
  status = Cut(status, kStatusCapacity);
  if (id.empty() || status.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Entry* entry = Find(id);
  // No call comes back from its end: what follows it (a late reply telling the call's status before
  // the end, the end said again) changes nothing.
  if (entry != nullptr && IsCallEnd(entry->status)) return;
  if (entry == nullptr && std::find(ended_.begin(), ended_.end(), id) != ended_.end()) return;
  if (entry == nullptr) {
    if (entries_.size() >= kMostCalls) {
      // Room from a call the engine does not follow: one that has ended first (a burst of callers who
      // gave up must not push out those still ringing), then the one least recently reported.
      auto oldest = entries_.end();
      const auto before = [](const Entry& a, const Entry& b) {
        const bool aEnded = IsCallEnd(a.status), bEnded = IsCallEnd(b.status);
        return aEnded != bEnded ? aEnded : a.lastSerial < b.lastSerial;
      };
      for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (!IsKept(it->id) && (oldest == entries_.end() || before(*it, *oldest))) oldest = it;
      }
      if (oldest == entries_.end()) return;
      entries_.erase(oldest);
    }
    entries_.push_back(Entry{std::string(id), std::string(), 0, {}});
    entry = &entries_.back();
  }
  entry->status.assign(status.data(), status.size());
  entry->lastSerial = ++serial_;
  if (entry->unseen.size() >= kMostUnseen) entry->unseen.erase(entry->unseen.begin());
  entry->unseen.emplace_back(serial_, entry->status);
}

std::vector<CallStatusLine> CallTable::TakeNews() {
  std::vector<std::pair<std::uint64_t, CallStatusLine>> news;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& entry : entries_) {
      for (auto& [serial, status] : entry.unseen) news.push_back({serial, CallStatusLine{entry.id, std::move(status)}});
      entry.unseen.clear();
      if (IsCallEnd(entry.status)) ended_[nextEnded_++ % ended_.size()] = entry.id;
    }
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return IsCallEnd(e.status); }),
                   entries_.end());
  }
  std::sort(news.begin(), news.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<CallStatusLine> lines;
  lines.reserve(news.size());
  for (auto& item : news) lines.push_back(std::move(item.second));
  return lines;
}

bool CallTable::HasNews(std::string_view id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* entry = Find(id);
  return entry != nullptr && !entry->unseen.empty();
}

std::string CallTable::StatusOf(std::string_view id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Entry* entry = Find(id);
  return entry == nullptr ? std::string() : entry->status;
}

std::vector<std::string> CallTable::Ids() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> ids;
  for (const Entry& entry : entries_) ids.push_back(entry.id);
  return ids;
}

void CallTable::Forget(std::string_view id) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == id; }),
                 entries_.end());
}

void CallTable::Keep(const std::vector<std::string>& ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  kept_ = ids;
}

std::size_t CallTable::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

CallTable::Entry* CallTable::Find(std::string_view id) {
  for (Entry& entry : entries_) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

const CallTable::Entry* CallTable::Find(std::string_view id) const {
  for (const Entry& entry : entries_) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

bool CallTable::IsKept(const std::string& id) const {
  return std::find(kept_.begin(), kept_.end(), id) != kept_.end();
}

}  // namespace halvane
