#pragma once
// Recording fakes that several unit tests share.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/log_writer.h"
#include "base/notices.h"
#include "link/protocol.h"

namespace halvane::test {

// Records every delivery and answers with `answer`; runs `during` inside the delivery, as the client's
// reply or a new attach would arrive while the sender is still blocked in it.
class RecordingDelivery final : public Delivery {
 public:
  struct Sent {
    WindowHandle target;
    WindowHandle sender;
    std::string bytes;  // all `size` bytes, the terminator included
  };

  DeliveryResult Deliver(WindowHandle target, WindowHandle sender, const char* data, std::uint32_t size) override {
    sent.push_back({target, sender, std::string(data, size)});
    if (during) during();
    return answer;
  }

  DeliveryResult answer = DeliveryResult::kAccepted;
  std::function<void()> during;
  std::vector<Sent> sent;
};

// Keeps every text written, in order, and hands each to `also` when set; safe to write from several threads.
class RecordingLog final : public LogWriter {
 public:
  void WriteLog(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ += text;
    if (also) also(text);
  }
  std::function<void(const char*)> also;
  std::string Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// Keeps every notice, in order.
class RecordingNotices final : public Notices {
 public:
  void Notify(Notice notice, const char* /*detail*/) override { got.push_back(static_cast<int>(notice)); }
  std::vector<int> got;
};

// A call board that shows the latest status line reported to its table (taken as the engine takes them).
struct WatchedBoard : CallBoard {
  CallStatusLine Latest() {
    for (CallStatusLine& line : calls.TakeNews()) latest = std::move(line);
    return latest;
  }
  CallStatusLine latest;
};

}  // namespace halvane::test
