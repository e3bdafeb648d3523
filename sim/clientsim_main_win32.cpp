// clientsim.exe: the client emulator with a small window, so that a person can try the program with no
// client installed. The buttons act as the operator in the client and as the far end; the list shows
// every message that went either way.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/client_emulator_win32.h"

namespace {

using halvane::sim::ClientEmulator;

enum : int {
  kIdPeer = 100,
  kIdCall,
  kIdList,
  kIdStatus,
  kIdIncoming = 200,
  kIdAnswer,
  kIdHold,
  kIdResume,
  kIdHangUp,
  kIdDial,
  kIdFarAnswers,
  kIdFarRefuses,
  kIdBusy,
  kIdMissed,
  kIdFarHangsUp,
  kIdCancel,
  kIdFarFails,
  kIdReLogin,
  kIdSwitch,
  kIdVoicemail,
  kIdRestart,
  kIdRefuseJoin,
  kIdRefuseHold,
  kIdRefuse,
  kIdNeverReply,
  kIdFarHolds,
  kIdFarResumes,
  kIdNumberRejects,
  kIdClientTransfers,
  kIdSignOut,
  kIdMoodText,
  kIdLoseReply,
  kIdLateReply,
  kIdVanish,
  kIdNewWindow,
  kIdName = 300,
};

struct ButtonSpec {
  int id;
  const wchar_t* text;
  bool checkBox;
};

constexpr ButtonSpec kButtons[] = {
    {kIdIncoming, L"Incoming call", false},   {kIdAnswer, L"Answer", false},
    {kIdHold, L"Hold", false},                {kIdResume, L"Resume", false},
    {kIdHangUp, L"Hang up", false},           {kIdDial, L"Dial", false},
    {kIdFarAnswers, L"Far end answers", false}, {kIdFarRefuses, L"Far end refuses", false},
    {kIdBusy, L"Far end busy", false},        {kIdMissed, L"Missed", false},
    {kIdFarHangsUp, L"Far end hangs up", false}, {kIdCancel, L"Cancel dial", false},
    {kIdFarFails, L"Call fails", false},      {kIdReLogin, L"Re-login", false},
    {kIdSwitch, L"Switch to this call", false}, {kIdVoicemail, L"Voicemail takes it", false},
    {kIdRestart, L"Client restarts", false},  {kIdRefuseJoin, L"Refuse next join", false},
    {kIdRefuseHold, L"Refuse next hold", false},
    {kIdLoseReply, L"Lose next reply", false},
    {kIdLateReply, L"Next reply late", false},
    {kIdRefuse, L"Refuse deliveries", true},  {kIdNeverReply, L"Never reply", true},
    // The real client's further events.
    {kIdFarHolds, L"Far end holds", false},   {kIdFarResumes, L"Far end resumes", false},
    {kIdNumberRejects, L"Number rejects (redial)", false}, {kIdClientTransfers, L"Client transfers it", false},
    {kIdSignOut, L"Sign out", false},         {kIdMoodText, L"Mood text naming its end", false},
    {kIdVanish, L"API window vanishes", false}, {kIdNewWindow, L"New window, silent", false},
};

constexpr UINT_PTR kRefreshTimer = 1;
constexpr std::size_t kShownChars = 400;  // a list row shows this much of a line

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (needed <= 0) return L"(undecodable)";
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], needed);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &utf8[0], needed, nullptr, nullptr);
  return utf8;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

class ClientSimWindow {
 public:
  bool Create(HINSTANCE instance) {
    if (!emulator_.Start()) return false;
    emulator_.SetPushProperties(true);  // as the client: DURATION every second, VIDEO_STATUS, VAA_INPUT_STATUS
    // Like the client at its start: a Halvane already running attaches now.
    emulator_.AnnounceAvailable();
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"HalvaneClientSim";
    if (RegisterClassW(&wc) == 0) return false;
    window_ = CreateWindowExW(0, wc.lpszClassName, L"Client emulator", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 760, 920, nullptr, nullptr, instance, this);
    return window_ != nullptr;
  }

  HWND Window() const { return window_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      static_cast<ClientSimWindow*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<ClientSimWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
      case WM_CREATE:
        self->OnCreate();
        return 0;
      case WM_SIZE:
        self->OnSize(LOWORD(lParam), HIWORD(lParam));
        return 0;
      case WM_COMMAND:
        self->OnCommand(LOWORD(wParam));
        return 0;
      case WM_TIMER:
        self->Refresh();
        return 0;
      case WM_DESTROY:
        KillTimer(window, kRefreshTimer);
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
  }

  HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD exStyle = 0) {
    HWND child = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return child;
  }

  // WM_CREATE: the controls; their places come with WM_SIZE.
  void OnCreate() {
    Child(L"STATIC", L"Other party:", SS_LEFT, -1);
    peer_ = Child(L"EDIT", L"caller", ES_AUTOHSCROLL | WS_TABSTOP, kIdPeer, WS_EX_CLIENTEDGE);
    Child(L"STATIC", L"Caller's name:", SS_LEFT, -1);
    name_ = Child(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, kIdName, WS_EX_CLIENTEDGE);
    Child(L"STATIC", L"Call id:", SS_LEFT, -1);
    call_ = Child(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, kIdCall, WS_EX_CLIENTEDGE);
    for (const ButtonSpec& b : kButtons) {
      buttons_.push_back(Child(L"BUTTON", b.text, WS_TABSTOP | (b.checkBox ? BS_AUTOCHECKBOX : BS_PUSHBUTTON), b.id));
    }
    status_ = Child(L"STATIC", L"", SS_LEFT, kIdStatus);
    list_ = Child(L"LISTBOX", L"", WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOSEL, kIdList,
                  WS_EX_CLIENTEDGE);
    SendMessageW(list_, LB_SETHORIZONTALEXTENT, 3000, 0);
    SetTimer(window_, kRefreshTimer, 200, nullptr);
    Refresh();
  }

  // WM_SIZE: the controls in a column on the left, the transcript filling the rest.
  void OnSize(int width, int height) {
    constexpr int kMargin = 8;
    constexpr int kColumn = 150;
    constexpr int kRow = 24;
    int y = kMargin;
    for (HWND field : {peer_, name_, call_}) {
      MoveWindow(GetWindow(field, GW_HWNDPREV), kMargin, y, kColumn, 16, TRUE);
      MoveWindow(field, kMargin, y + 16, kColumn, 22, TRUE);
      y += 44;
    }
    y += 4;
    for (HWND button : buttons_) {
      MoveWindow(button, kMargin, y, kColumn, kRow - 2, TRUE);
      y += kRow;
    }
    const int left = kMargin * 2 + kColumn;
    MoveWindow(status_, left, kMargin, width - left - kMargin, 16, TRUE);
    MoveWindow(list_, left, kMargin + 20, width - left - kMargin, height - 2 * kMargin - 20, TRUE);
  }

  // WM_COMMAND from a button: one operator or far-end action on the call named in the call-id box.
  void OnCommand(int id) {
    const std::string call = Narrow(WindowText(call_));
    const std::string peer = Narrow(WindowText(peer_));
    bool done = true;
    switch (id) {
      case kIdIncoming: SetWindowTextW(call_, Widen(IncomingNamedCall(peer)).c_str()); break;
      case kIdDial: SetWindowTextW(call_, Widen(emulator_.OperatorDials(peer)).c_str()); break;
      case kIdAnswer: done = emulator_.OperatorAnswers(call); break;
      case kIdHold: done = emulator_.OperatorHolds(call); break;
      case kIdResume: done = emulator_.OperatorResumes(call); break;
      case kIdHangUp: done = emulator_.OperatorHangsUp(call); break;
      case kIdFarAnswers: done = emulator_.FarEndAnswers(call); break;
      case kIdFarRefuses: done = emulator_.FarEndRefuses(call); break;
      case kIdBusy: done = emulator_.FarEndBusy(call); break;
      case kIdMissed: done = emulator_.Missed(call); break;
      case kIdFarHangsUp: done = emulator_.FarEndHangsUp(call); break;
      case kIdCancel: done = emulator_.OperatorCancels(call); break;
      case kIdFarFails: done = emulator_.FarEndFails(call, 4); break;
      case kIdReLogin: done = emulator_.ReLogin(); break;
      case kIdSwitch: done = emulator_.OperatorSwitchesTo(call); break;
      case kIdVoicemail: done = emulator_.VoicemailTakes(call); break;
      case kIdRestart: done = emulator_.Restart(); break;
      case kIdRefuseJoin: emulator_.RefuseNextJoin(); break;
      case kIdRefuseHold: emulator_.RefuseNextHold(); break;
      case kIdLoseReply: emulator_.LoseNextReply(); break;
      case kIdLateReply: emulator_.DelayNextReply(); break;
      case kIdRefuse: emulator_.SetRefuseDeliveries(IsChecked(kIdRefuse)); break;
      case kIdNeverReply: emulator_.SetNeverReply(IsChecked(kIdNeverReply)); break;
      case kIdFarHolds: done = emulator_.FarEndHolds(call); break;
      case kIdFarResumes: done = emulator_.FarEndResumes(call); break;
      case kIdNumberRejects: done = emulator_.NumberRejects(call); break;
      case kIdClientTransfers: done = emulator_.ClientTransfers(call); break;
      case kIdSignOut: done = emulator_.SignOut(); break;
      // A contact's mood text: any words, a call line's among them; the client pushes it as it is.
      case kIdMoodText: done = emulator_.SendLine("USER " + peer + " MOOD_TEXT CALL " + call + " STATUS FINISHED"); break;
      case kIdVanish:
      case kIdNewWindow: done = VanishOrComeBack(id == kIdVanish); break;
      default: return;
    }
    if (!done) MessageBeep(MB_ICONWARNING);
    Refresh();
  }

  // An incoming call from `peer`, showing the name in the caller's-name box when one is written.
  std::string IncomingNamedCall(const std::string& peer) {
    const std::string id = emulator_.IncomingCall(peer);
    const std::string name = Narrow(WindowText(name_));
    if (!id.empty() && !name.empty()) emulator_.NameCall(id, name);
    return id;
  }

  // The API window goes without a word (as when the client is killed), or a new one comes without
  // announcing itself, so that only the program's own look can find it.
  bool VanishOrComeBack(bool vanish) {
    if (vanish) {
      emulator_.Stop();
      return true;
    }
    return emulator_.ApiWindow() == 0 && emulator_.Start();
  }

  bool IsChecked(int id) const {
    return SendMessageW(GetDlgItem(window_, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  // Appends the transcript entries not shown yet and updates the status line.
  void Refresh() {
    const std::uint64_t version = emulator_.TranscriptVersion();
    if (version != version_) {
      version_ = version;
      const auto entries = emulator_.Transcript();
      for (; shown_ < entries.size(); ++shown_) {
        std::string row = std::string(halvane::sim::KindName(entries[shown_].kind)) + "  " +
                          entries[shown_].text.substr(0, kShownChars);
        const auto index = SendMessageW(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(row).c_str()));
        SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
      }
    }
    char text[160];
    const std::string call = Narrow(WindowText(call_));
    const std::string status = emulator_.CallStatus(call);
    const auto link = static_cast<unsigned long long>(emulator_.AttachedLink());
    if (link != 0) {
      std::snprintf(text, sizeof text, "Attached to 0x%llx.  Call %s: %s", link, call.substr(0, 32).c_str(),
                    status.empty() ? "-" : status.c_str());
    } else {
      std::snprintf(text, sizeof text, "Waiting for a program to attach.  Call %s: %s", call.substr(0, 32).c_str(),
                    status.empty() ? "-" : status.c_str());
    }
    const std::wstring wide = Widen(text);
    if (wide != WindowText(status_)) SetWindowTextW(status_, wide.c_str());
  }

  ClientEmulator emulator_;
  HWND window_ = nullptr;
  HWND peer_ = nullptr;
  HWND name_ = nullptr;
  HWND call_ = nullptr;
  HWND status_ = nullptr;
  HWND list_ = nullptr;
  std::vector<HWND> buttons_;
  std::size_t shown_ = 0;
  std::uint64_t version_ = ~std::uint64_t{0};
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  ClientSimWindow sim;
  if (!sim.Create(instance)) {
    MessageBoxW(nullptr, L"The client emulator could not start.", L"Client emulator", MB_ICONERROR);
    return 1;
  }
  ShowWindow(sim.Window(), show);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(sim.Window(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return 0;
}
