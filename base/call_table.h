#pragma once
// Every call the client reports, with the statuses the engine has not looked at yet. The link thread
// reports each status line; the engine takes what is new, in the order it was reported. A burst of
// other calls' lines cannot push out a line of the calls the engine follows: each call keeps its own
// unseen statuses, and a call's last status is never dropped.
//
// Bounded: at most kMostCalls calls (one not kept by the engine makes room: an ended one first, then
// the one least recently reported; when every call is kept, a new call is not taken), at most kMostUnseen unseen statuses each (the oldest make room), and a call leaves the
// table once the engine has taken its end. One small mutex, held only while copying in or out.

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace halvane {

// One status line of the client: the call it names and its status word.
struct CallStatusLine {
  std::string id;      // at most CallTable::kIdCapacity characters, never empty
  std::string status;  // at most CallTable::kStatusCapacity characters
};

// The words with which a client reports that a call has ended, whoever ended it (voicemail taken
// and closed, or the call handed on, included). A voicemail greeting or a pending redial is no end.
bool IsCallEnd(std::string_view status);

class CallTable {
 public:
  static constexpr std::size_t kMostCalls = 32;
  static constexpr std::size_t kMostUnseen = 16;
  // The widths of the client's values: a call id of 15 characters, a status of 23.
  static constexpr std::size_t kIdCapacity = 15;
  static constexpr std::size_t kStatusCapacity = 23;

  // One status line (cut to the call board's widths); an empty id or status is ignored.
  void Report(std::string_view id, std::string_view status);
  // Every status reported since the last take, oldest first. Calls whose end is handed out here leave
  // the table.
  std::vector<CallStatusLine> TakeNews();
  // A status of this call is waiting to be taken.
  bool HasNews(std::string_view id) const;
  // The call's last reported status; empty when the table does not hold it.
  std::string StatusOf(std::string_view id) const;
  // The ids of the calls the table holds.
  std::vector<std::string> Ids() const;
  // Forgets a call (the client no longer knows it).
  void Forget(std::string_view id);
  // The calls the engine follows (every call with a role): never the ones that make room for new calls.
  void Keep(const std::vector<std::string>& ids);
  // How many calls the table holds.
  std::size_t Size() const;

 private:
  struct Entry {
    std::string id;
    std::string status;  // the last one reported
    std::uint64_t lastSerial = 0;
    std::vector<std::pair<std::uint64_t, std::string>> unseen;
  };
  Entry* Find(std::string_view id);
  const Entry* Find(std::string_view id) const;
  bool IsKept(const std::string& id) const;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<std::string> kept_;
  // The calls whose end was last taken, so that nothing the client says of them later revives them.
  std::array<std::string, kMostCalls> ended_;
  std::size_t nextEnded_ = 0;
  std::uint64_t serial_ = 0;
};

}  // namespace halvane
