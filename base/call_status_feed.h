#pragma once
// The client's call-status lines as the engine reads them: each line's call id and status word are
// published together, as one whole text, so a reader never pairs one call's id with another call's
// status. The last kDepth lines are kept, each with its serial number, so a reader that polls
// seldom still sees every line of a burst in order (a real client reports every call it has, and a
// third caller's lines arrive between those of the operator's two calls).
//
// One writer (the link thread); any number of readers, each keeping its own position.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/shared_text.h"

namespace halvane {

struct CallStatusLine {
  std::string id;      // at most kIdCapacity characters, never empty once published
  std::string status;  // at most kStatusCapacity characters
};

class CallStatusFeed {
 public:
  // The widths of the call board's text items: a call id of 15 characters, a status of 23.
  static constexpr std::size_t kIdCapacity = 15;
  static constexpr std::size_t kStatusCapacity = 23;
  static constexpr std::size_t kDepth = 16;

  // Publishes one line (cut to the widths). Lines with an empty id or status are not published.
  void Publish(std::string_view id, std::string_view status) {
    id = Cut(id, kIdCapacity);
    status = Cut(status, kStatusCapacity);
    if (id.empty() || status.empty()) return;
    const std::uint64_t serial = published_.load(std::memory_order_relaxed);
    std::string text = Hex(serial);
    text += static_cast<char>('A' + id.size());
    text.append(id.data(), id.size());
    text.append(status.data(), status.size());
    slots_[serial % kDepth].Store(text);
    published_.store(serial + 1, std::memory_order_release);
  }

  // How many lines were ever published: a reader's position once it has seen them all.
  std::uint64_t Published() const { return published_.load(std::memory_order_acquire); }

  // Hands each line published after position `seen` to `take(const CallStatusLine&)`, oldest first,
  // and returns the new position. Lines overwritten before they could be read are skipped; `lost`
  // (when given) is increased by their number.
  template <typename Take>
  std::uint64_t ReadSince(std::uint64_t seen, Take&& take, std::uint64_t* lost = nullptr) const {
    const std::uint64_t end = Published();
    std::uint64_t next = seen < end ? seen : end;
    if (end - next > kDepth) {
      if (lost != nullptr) *lost += end - next - kDepth;
      next = end - kDepth;
    }
    for (; next < end; ++next) {
      CallStatusLine line;
      if (Decode(slots_[next % kDepth].Load(), next, line)) {
        take(line);
      } else if (lost != nullptr) {
        ++*lost;  // the writer went round the ring meanwhile
      }
    }
    return end;
  }

  // The latest line; empty id and status before any.
  CallStatusLine Latest() const {
    CallStatusLine latest;
    const std::uint64_t end = Published();
    if (end != 0) Decode(slots_[(end - 1) % kDepth].Load(), end - 1, latest);
    return latest;
  }

 private:
  static constexpr std::size_t kSerialDigits = 16;
  // Serial, id length, id, status.
  using Slot = SharedText<kSerialDigits + 1 + kIdCapacity + kStatusCapacity + 1>;

  static std::string_view Cut(std::string_view text, std::size_t capacity) {
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    return text.size() > capacity ? text.substr(0, capacity) : text;
  }

  static std::string Hex(std::uint64_t value) {
    std::string out(kSerialDigits, '0');
    for (std::size_t i = kSerialDigits; i-- > 0; value >>= 4) out[i] = "0123456789abcdef"[value & 0xFU];
    return out;
  }

  static bool Decode(const std::string& text, std::uint64_t serial, CallStatusLine& line) {
    if (text.size() < kSerialDigits + 1 || text.compare(0, kSerialDigits, Hex(serial)) != 0) return false;
    const auto idLength = static_cast<std::size_t>(text[kSerialDigits] - 'A');
    if (idLength == 0 || idLength > kIdCapacity || text.size() <= kSerialDigits + 1 + idLength) return false;
    line.id = text.substr(kSerialDigits + 1, idLength);
    line.status = text.substr(kSerialDigits + 1 + idLength);
    return true;
  }

  std::atomic<std::uint64_t> published_{0};
  std::array<Slot, kDepth> slots_{};
};

}  // namespace halvane
