#pragma once
// A short text shared between threads without locks: every write publishes the whole text, and a
// reader sees either the old text or the new one, never a mix (a sequence lock over atomic bytes).

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace halvane {

template <std::size_t N>
class SharedText {
  static_assert(N >= 2, "room for at least one character and the terminator");

 public:
  // Characters it holds at most; the rest of N is the terminator of the platform's buffers.
  static constexpr std::size_t kCapacity = N - 1;

  // Replaces the whole text, cut to kCapacity characters (and at an embedded zero, as a C text would be).
  void Store(std::string_view text) {
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    if (text.size() > kCapacity) text = text.substr(0, kCapacity);

    std::uint32_t seq = BeginWrite();
    // Release stores (not fences, which ThreadSanitizer cannot follow): a reader that sees any new
    // byte also sees the odd sequence value taken before it, and so retries.
    for (std::size_t i = 0; i < text.size(); ++i) chars_[i].store(text[i], std::memory_order_release);
    length_.store(static_cast<std::uint16_t>(text.size()), std::memory_order_release);
    seq_.store(seq + 2, std::memory_order_release);
  }

  void Clear() { Store(std::string_view()); }

  std::string Load() const {
    std::string out;
    out.reserve(kCapacity);
    for (;;) {
      const std::uint32_t before = seq_.load(std::memory_order_acquire);
      if ((before & 1U) != 0) {
        std::this_thread::yield();
        continue;
      }
      std::size_t length = length_.load(std::memory_order_acquire);
      if (length > kCapacity) length = kCapacity;
      out.assign(length, '\0');
      for (std::size_t i = 0; i < length; ++i) out[i] = chars_[i].load(std::memory_order_acquire);
      if (seq_.load(std::memory_order_relaxed) == before) return out;
    }
  }

  bool Equals(std::string_view text) const { return Load() == text; }
  bool Empty() const { return Load().empty(); }

 private:
  // Writers exclude each other by taking the odd sequence value; a write lasts a few hundred byte stores.
  std::uint32_t BeginWrite() {
    for (;;) {
      std::uint32_t seq = seq_.load(std::memory_order_relaxed);
      if ((seq & 1U) == 0 &&
          seq_.compare_exchange_weak(seq, seq + 1, std::memory_order_acq_rel, std::memory_order_relaxed)) {
        return seq;
      }
      std::this_thread::yield();
    }
  }

  std::atomic<std::uint32_t> seq_{0};
  std::atomic<std::uint16_t> length_{0};
  std::array<std::atomic<char>, N> chars_{};
};

}  // namespace halvane
