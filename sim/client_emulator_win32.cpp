#include "sim/client_emulator_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace halvane::sim {
namespace {

constexpr wchar_t kClassName[] = L"HalvaneClientEmulatorApi";
constexpr UINT kFlushMessage = WM_APP + 1;      // send what is due in the outbox
constexpr UINT kDiscoveredMessage = WM_APP + 2;  // wParam: the link window to answer
constexpr UINT kReLoginMessage = WM_APP + 3;     // wParam: the link window to tell
constexpr UINT_PTR kFlushTimer = 1;
constexpr UINT_PTR kSecondTimer = 2;  // a talking call's DURATION, each second
// How long one line may take the link window; a hung link must not hold the emulator.
constexpr UINT kSendTimeoutMs = 2000;
constexpr auto kStartTimeout = std::chrono::seconds(10);

std::int64_t Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

HWND ToHwnd(Hwnd h) { return reinterpret_cast<HWND>(h); }
Hwnd FromHwnd(HWND h) { return reinterpret_cast<Hwnd>(h); }

std::string Hex(std::uintptr_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool IsUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0u) != 0x80u) return false;
      cp = (cp << 6) | (cc & 0x3Fu);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

LRESULT CALLBACK ApiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ClientEmulator*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || message == WM_NCCREATE) return DefWindowProcW(window, message, wParam, lParam);
  return self->OnMessage(FromHwnd(window), message, wParam, lParam);
}

bool RegisterApiClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = ApiWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kClassName;
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

const char* KindName(TranscriptEntry::Kind kind) {
  switch (kind) {
    case TranscriptEntry::Kind::Discovery: return "discovery";
    case TranscriptEntry::Kind::AttachSent: return "attach";
    case TranscriptEntry::Kind::AttachWithheld: return "attach withheld";
    case TranscriptEntry::Kind::Command: return "<-";
    case TranscriptEntry::Kind::CommandRefused: return "<- refused";
    case TranscriptEntry::Kind::CommandUndecodable: return "<- dropped";
    case TranscriptEntry::Kind::Sent: return "->";
    case TranscriptEntry::Kind::SendFailed: return "-> failed";
  }
  return "?";
}

ClientEmulator::ClientEmulator(CallModel::Options options) : model_(std::move(options)) {}

ClientEmulator::~ClientEmulator() { Stop(); }

bool ClientEmulator::Start() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (thread_.joinable()) return ready_;
  ready_ = false;
  failed_ = false;
  thread_ = std::thread(&ClientEmulator::Run, this);
  const bool done = started_.wait_for(lock, kStartTimeout, [this] { return ready_ || failed_; });
  if (done && ready_) return true;
  lock.unlock();
  // Run ends by itself on failure; a thread that did not even report in is not waited for forever.
  if (done) {
    thread_.join();
  } else {
    thread_.detach();
  }
  return false;
}

void ClientEmulator::Stop() {
  Hwnd api = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) return;
    api = api_;
  }
  PostMessageW(ToHwnd(api), WM_CLOSE, 0, 0);
  thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  api_ = 0;
  foreign_ = 0;
  link_ = 0;
  ready_ = false;
  outbox_.clear();
}

bool ClientEmulator::AnnounceAvailable() {
  const HWND api = ToHwnd(ApiWindow());
  if (api == nullptr) return false;
  // Posted, not sent: a hung window must not hold the client up.
  return PostMessageW(HWND_BROADCAST, attachMessage_, reinterpret_cast<WPARAM>(api), kAttachAvailable) != FALSE;
}

void ClientEmulator::Run() {
  const UINT discover = RegisterWindowMessageW(L"SkypeControlAPIDiscover");
  const UINT attach = RegisterWindowMessageW(L"SkypeControlAPIAttach");
  // Only this thread reads the ids, and only from the windows' procedure.
  discoverMessage_ = discover;
  attachMessage_ = attach;
  HWND api = nullptr;
  HWND foreign = nullptr;
  if (discover != 0 && attach != 0 && RegisterApiClass()) {
    // Top-level (not message-only) so that the discovery broadcast reaches it; never shown.
    api = CreateWindowExW(0, kClassName, L"Client API", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                          GetModuleHandleW(nullptr), this);
    foreign = CreateWindowExW(0, kClassName, L"Foreign", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (api == nullptr || foreign == nullptr) {
      failed_ = true;
    } else {
      api_ = FromHwnd(api);
      foreign_ = FromHwnd(foreign);
      ready_ = true;
    }
  }
  started_.notify_all();
  if (api == nullptr || foreign == nullptr) {
    if (api != nullptr) DestroyWindow(api);
    if (foreign != nullptr) DestroyWindow(foreign);
    return;
  }
  SetTimer(api, kSecondTimer, 1000, nullptr);  // what a client pushes every second
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  DestroyWindow(foreign);
}

std::intptr_t ClientEmulator::OnMessage(Hwnd window, unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam) {
  HWND api = ToHwnd(window);
  if (message == discoverMessage_) {
    // The answer goes out after the broadcast returns, as a real client's would.
    Record(TranscriptEntry::Kind::Discovery, Hex(wParam));
    PostMessageW(api, kDiscoveredMessage, wParam, 0);
    return 1;
  }
  switch (message) {
    case WM_COPYDATA:
      return OnCopyData(wParam, reinterpret_cast<const void*>(lParam));
    case kDiscoveredMessage:
      AnswerDiscovery(wParam);
      return 0;
    case kReLoginMessage: {
      DWORD_PTR result = 0;
      SendMessageTimeoutW(ToHwnd(wParam), attachMessage_, reinterpret_cast<WPARAM>(api), kAttachAvailable,
                          SMTO_NORMAL, kSendTimeoutMs, &result);
      Record(TranscriptEntry::Kind::AttachSent, Hex(kAttachAvailable));
      return 0;
    }
    case WM_TIMER:
      if (wParam == kSecondTimer) return Tick(), 0;
      Flush();
      return 0;
    case kFlushMessage:
      Flush();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(api, message, wParam, lParam);
  }
}

void ClientEmulator::AnswerDiscovery(Hwnd link) {
  std::optional<std::uint32_t> status;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    status = discoveryAnswer_;
    if (!status) {
      transcript_.push_back({TranscriptEntry::Kind::AttachWithheld, Hex(link), Ticks()});
      ++version_;
      return;
    }
    link_ = *status == kAttachSuccess ? link : 0;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutW(ToHwnd(link), attachMessage_, static_cast<WPARAM>(api_), static_cast<LPARAM>(*status),
                      SMTO_NORMAL, kSendTimeoutMs, &result);
  Record(TranscriptEntry::Kind::AttachSent, Hex(*status));
}

std::intptr_t ClientEmulator::OnCopyData(Hwnd sender, const void* copyData) {
  std::chrono::milliseconds stall{0};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sender == link_ && !refuse_) std::swap(stall, stallNext_);
  }
  // Busy inside the message itself: the sender's SendMessage waits all this time.
  if (stall.count() > 0) Sleep(static_cast<DWORD>(stall.count()));
  const std::int64_t arrived = Ticks();
  const auto* cds = static_cast<const COPYDATASTRUCT*>(copyData);
  std::string text;
  if (cds != nullptr && cds->lpData != nullptr) {
    // The text ends at the first zero within cbData, or at cbData.
    const auto* bytes = static_cast<const char*>(cds->lpData);
    const void* zero = std::memchr(bytes, 0, cds->cbData);
    const std::size_t size = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes)
                                             : static_cast<std::size_t>(cds->cbData);
    text.assign(bytes, size);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (refuse_) {
    transcript_.push_back({TranscriptEntry::Kind::CommandRefused, text, arrived});
    ++version_;
    return 0;
  }
  if (cds == nullptr || sender != link_) {
    transcript_.push_back({TranscriptEntry::Kind::CommandUndecodable, "from " + Hex(sender) + ": " + text, arrived});
    ++version_;
    return 0;
  }
  Lines lines;
  if (IsUtf8(text)) {
    transcript_.push_back({TranscriptEntry::Kind::Command, text, arrived});
    lines = model_.HandleCommand(text);
  } else {
    transcript_.push_back({TranscriptEntry::Kind::CommandUndecodable, text, arrived});
    lines = {"ERROR 1 General syntax error"};
  }
  ++version_;
  if (!neverReply_) {
    const auto due = std::chrono::steady_clock::now() + replyDelay_;
    for (std::string& line : lines) {
      const auto size = static_cast<std::uint32_t>(line.size() + 1);
      outbox_.push_back({due, line + '\0', size, false});
    }
    for (std::string& line : model_.TakeLateReplies()) {
      const auto size = static_cast<std::uint32_t>(line.size() + 1);
      outbox_.push_back({due + kLateReply, line + '\0', size, false});
    }
    PostMessageW(ToHwnd(api_), kFlushMessage, 0, 0);
  }
  return 1;
}

void ClientEmulator::Flush() {
  HWND api = ToHwnd(api_);
  for (;;) {
    Outgoing item;
    Hwnd link = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (outbox_.empty()) {
        KillTimer(api, kFlushTimer);
        return;
      }
      const auto now = std::chrono::steady_clock::now();
      if (outbox_.front().due > now) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(outbox_.front().due - now);
        SetTimer(api, kFlushTimer, static_cast<UINT>(wait.count()) + 1, nullptr);
        return;
      }
      item = std::move(outbox_.front());
      outbox_.pop_front();
      link = link_;
    }
    const std::uint32_t cbData = item.cbData;
    std::string shown = item.bytes.substr(0, cbData);
    if (!shown.empty() && shown.back() == '\0') shown.pop_back();
    const std::int64_t began = Ticks();
    if (link == 0) {
      Record(TranscriptEntry::Kind::SendFailed, "(not attached) " + shown, began);
      continue;
    }
    COPYDATASTRUCT cds{};
    cds.cbData = cbData;
    cds.lpData = item.bytes.empty() ? nullptr : &item.bytes[0];
    DWORD_PTR result = 0;
    const HWND from = item.foreign ? ToHwnd(foreign_) : api;
    const LRESULT ok = SendMessageTimeoutW(ToHwnd(link), WM_COPYDATA, reinterpret_cast<WPARAM>(from),
                                           reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, kSendTimeoutMs, &result);
    Record(ok != 0 && result != 0 ? TranscriptEntry::Kind::Sent : TranscriptEntry::Kind::SendFailed, shown, began);
  }
}

void ClientEmulator::Record(TranscriptEntry::Kind kind, std::string text) { Record(kind, std::move(text), Ticks()); }

void ClientEmulator::Record(TranscriptEntry::Kind kind, std::string text, std::int64_t ticks) {
  std::lock_guard<std::mutex> lock(mutex_);
  transcript_.push_back({kind, std::move(text), ticks});
  ++version_;
}

void ClientEmulator::Wake() {
  HWND api = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    api = ToHwnd(api_);
  }
  if (api != nullptr) PostMessageW(api, kFlushMessage, 0, 0);
}

bool ClientEmulator::Queue(const Lines& lines, std::chrono::milliseconds delay) {
  if (lines.empty()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto due = std::chrono::steady_clock::now() + delay;
    for (const std::string& line : lines) {
      outbox_.push_back({due, line + '\0', static_cast<std::uint32_t>(line.size() + 1), false});
    }
  }
  Wake();
  return true;
}

bool ClientEmulator::QueueOne(Outgoing item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (link_ == 0) return false;
    item.due = std::chrono::steady_clock::now();
    item.cbData = std::min<std::uint32_t>(item.cbData, static_cast<std::uint32_t>(item.bytes.size()));
    outbox_.push_back(std::move(item));
  }
  Wake();
  return true;
}

Hwnd ClientEmulator::ApiWindow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return api_;
}

Hwnd ClientEmulator::AttachedLink() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_;
}

void ClientEmulator::SetDiscoveryAnswer(std::optional<std::uint32_t> status) {
  std::lock_guard<std::mutex> lock(mutex_);
  discoveryAnswer_ = status;
}

void ClientEmulator::SetRefuseDeliveries(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_ = refuse;
}

void ClientEmulator::SetNeverReply(bool never) {
  std::lock_guard<std::mutex> lock(mutex_);
  neverReply_ = never;
}

void ClientEmulator::SetReplyDelay(std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  replyDelay_ = delay;
}

void ClientEmulator::StallNextCommand(std::chrono::milliseconds stall) {
  std::lock_guard<std::mutex> lock(mutex_);
  stallNext_ = stall;
}

bool ClientEmulator::ReLogin() {
  Hwnd link = 0;
  Hwnd api = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    link = link_;
    api = api_;
    link_ = 0;
  }
  if (link == 0 || api == 0) return false;
  return PostMessageW(ToHwnd(api), kReLoginMessage, static_cast<WPARAM>(link), 0) != 0;
}

bool ClientEmulator::Restart() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    model_.Restart();
  }
  return ReLogin();
}

void ClientEmulator::RefuseNextJoin() {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.RefuseNextJoin();
}

void ClientEmulator::RefuseNextHold() {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.RefuseNextHold();
}

void ClientEmulator::LoseNextReply() {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.LoseNextReply();
}

void ClientEmulator::DelayNextReply() {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.DelayNextReply();
}

bool ClientEmulator::SendLine(const std::string& text) {
  return QueueOne({{}, text + '\0', static_cast<std::uint32_t>(text.size() + 1), false});
}

bool ClientEmulator::SendBytes(const std::string& bytes, std::uint32_t cbData) {
  return QueueOne({{}, bytes, cbData, false});
}

bool ClientEmulator::SendFromForeignWindow(const std::string& text) {
  return QueueOne({{}, text + '\0', static_cast<std::uint32_t>(text.size() + 1), true});
}

// --- The real client's sequences -------------------------------------------------------------------

void ClientEmulator::SetPushProperties(bool push) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_.SetPushProperties(push);
}

void ClientEmulator::Tick() {
  Lines lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = model_.Tick();
  }
  if (!lines.empty()) Queue(lines, std::chrono::milliseconds(0));
}

bool ClientEmulator::FarEndHolds(const std::string& id) { return Event(&CallModel::FarEndHolds, id); }
bool ClientEmulator::FarEndResumes(const std::string& id) { return Event(&CallModel::FarEndResumes, id); }
bool ClientEmulator::NumberRejects(const std::string& id) { return Event(&CallModel::NumberRejects, id); }
bool ClientEmulator::ClientTransfers(const std::string& id) { return Event(&CallModel::ClientTransfers, id); }

bool ClientEmulator::SignOut() {
  Lines lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = model_.SignOut();
  }
  return Queue(lines, std::chrono::milliseconds(0));
}

bool ClientEmulator::Event(Lines (CallModel::*event)(std::string_view), const std::string& id) {
  Lines lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = (model_.*event)(id);
  }
  return Queue(lines, std::chrono::milliseconds(0));
}

std::string ClientEmulator::IncomingCall(const std::string& from) {
  std::string id;
  Lines lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = model_.IncomingCall(from, &id);
  }
  Queue(lines, std::chrono::milliseconds(0));
  return id;
}

std::string ClientEmulator::OperatorDials(const std::string& to) {
  std::string id;
  Lines lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = model_.OperatorDials(to, &id);
  }
  Queue(lines, std::chrono::milliseconds(0));
  return id;
}

bool ClientEmulator::OperatorAnswers(const std::string& id) { return Event(&CallModel::OperatorAnswers, id); }
bool ClientEmulator::OperatorHolds(const std::string& id) { return Event(&CallModel::OperatorHolds, id); }
bool ClientEmulator::OperatorResumes(const std::string& id) { return Event(&CallModel::OperatorResumes, id); }
bool ClientEmulator::OperatorHangsUp(const std::string& id) { return Event(&CallModel::OperatorHangsUp, id); }
bool ClientEmulator::OperatorCancels(const std::string& id) { return Event(&CallModel::OperatorCancels, id); }
bool ClientEmulator::FarEndAnswers(const std::string& id) { return Event(&CallModel::FarEndAnswers, id); }
bool ClientEmulator::FarEndRefuses(const std::string& id) { return Event(&CallModel::FarEndRefuses, id); }
bool ClientEmulator::FarEndBusy(const std::string& id) { return Event(&CallModel::FarEndBusy, id); }
bool ClientEmulator::Missed(const std::string& id) { return Event(&CallModel::Missed, id); }
bool ClientEmulator::FarEndHangsUp(const std::string& id) { return Event(&CallModel::FarEndHangsUp, id); }
bool ClientEmulator::OperatorSwitchesTo(const std::string& id) { return Event(&CallModel::OperatorSwitchesTo, id); }
bool ClientEmulator::VoicemailTakes(const std::string& id) { return Event(&CallModel::VoicemailTakes, id); }


bool ClientEmulator::FarEndFails(const std::string& id, int reason) {
  Lines lines;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines = model_.FarEndFails(id, reason);
  }
  return Queue(lines, std::chrono::milliseconds(0));
}

std::vector<TranscriptEntry> ClientEmulator::Transcript() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transcript_;
}

std::vector<std::string> ClientEmulator::UnnumberedCommands() const {
  std::vector<std::string> out = Commands();
  for (std::string& command : out) command = WithoutTagNumber(command);
  return out;
}

std::vector<std::string> ClientEmulator::Commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const TranscriptEntry& e : transcript_) {
    if (e.kind == TranscriptEntry::Kind::Command) out.push_back(e.text);
  }
  return out;
}

std::vector<std::string> ClientEmulator::SentLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const TranscriptEntry& e : transcript_) {
    if (e.kind == TranscriptEntry::Kind::Sent) out.push_back(e.text);
  }
  return out;
}

std::uint64_t ClientEmulator::TranscriptVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return version_;
}

std::string ClientEmulator::CallStatus(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Call* call = model_.FindCall(id);
  return call == nullptr ? std::string() : call->status;
}

std::vector<std::string> ClientEmulator::LiveCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const auto& entry : model_.Calls()) {
    if (!IsEnded(entry.second)) out.push_back(entry.first);
  }
  return out;
}

HungWindow::~HungWindow() {
  Release();
  if (thread_.joinable()) thread_.join();
}

bool HungWindow::Start(std::chrono::milliseconds bound) {
  if (thread_.joinable()) return false;
  thread_ = std::thread([this, bound] { Run(bound); });
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kStartTimeout, [this] { return ready_; });
  return window_ != 0;
}

void HungWindow::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

void HungWindow::Run(std::chrono::milliseconds bound) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"HalvaneHungWindow";
  RegisterClassW(&windowClass);  // fails harmlessly when a second one registers it again
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Hung", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  std::unique_lock<std::mutex> lock(mutex_);
  window_ = FromHwnd(window);
  ready_ = true;
  changed_.notify_all();
  if (window == nullptr) return;
  // No message is taken from here on: every message sent to the window waits.
  changed_.wait_for(lock, bound, [this] { return released_; });
  lock.unlock();
  DestroyWindow(window);
}

bool ClientEmulator::NameCall(const std::string& id, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return model_.NameCall(id, name);
}

}  // namespace halvane::sim
