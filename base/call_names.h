#pragma once
// The far ends' names of the calls, as the client gives them on request: the link thread stores them,
// the user interface reads them for the tooltip and the notices. Bounded (the oldest makes room); one
// small mutex, held only while copying.

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace halvane {

class CallNames {
 public:
  static constexpr std::size_t kMostNames = 8;

  // A display name replaces a handle, never the other way round.
  void Store(std::string_view id, std::string_view name, bool displayName);
  // The call's name; empty when none is known.
  std::string NameOf(std::string_view id) const;

 private:
  struct Entry {
    std::string id;
    std::string name;
    bool displayName = false;
  };
  mutable std::mutex mutex_;
  std::array<Entry, kMostNames> entries_;
  std::size_t next_ = 0;
};

}  // namespace halvane
