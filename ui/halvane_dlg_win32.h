#pragma once
// The main window: the instructions list and the Hold, Return and Transfer buttons. Its commands only
// set requests on the call board; the engine does the rest.

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/call_board.h"
#include "base/log_writer.h"
#include "engine/call_phases.h"
#include "engine/dialog_items.h"
#include "ui/call_tip.h"
#include "ui/notice_rules.h"
#include "ui/operator_keys_win32.h"
#include "ui/tray_icon_dlg_win32.h"
#include "ui/tray_notices_win32.h"

namespace halvane {

// Starts the link thread (which in turn starts the engine); false when the thread could not start.
using LinkThreadStarter = std::function<bool()>;

// Puts the sound card back as after an answered call, before the program ends; may be empty.
using SoundRestorer = std::function<void()>;

// A newer copy sends this registered message to the older copy's windows to have it end in order. The
// main window answers kCloseAccepted and ends, or, while a call is in progress, kCloseDeclined: it
// shows itself and stays, and the newer copy ends instead.
inline constexpr char kCloseRequestMessageName[] = "Halvane.CloseRequest";
inline constexpr LRESULT kCloseAccepted = 1;
inline constexpr LRESULT kCloseDeclined = 2;

// Asked when the window is closed while a caller is on hold.
inline constexpr char kCloseOnHoldQuestion[] = "A caller is on hold. Take the caller back and end Halvane?";

class CHalvaneDlg final : public CTrayIconDlg {
 public:
  CHalvaneDlg(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread, HWND parent = nullptr);
  ~CHalvaneDlg() override;

  // Run once by every orderly end: OK, Cancel, close, the session's end, a newer copy's request.
  void SetSoundRestorer(SoundRestorer restoreSound) { m_restoreSound = std::move(restoreSound); }
  // The operator's system-wide keys, registered on this window at initialisation and released when it
  // goes; a refused key is reported to `log`. Without this call the window has no keys.
  void UseOperatorKeys(OperatorKeys& keys, LogWriter& log);
  // Where the notices wait and how they are set; set-up problems are told through `notices` too.
  // Without this call the window shows none and keeps no hold reminder.
  void UseNotices(TrayNotices& notices, const NoticeSettings& settings);

 protected:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 private:
  // WM_SYSCOMMAND: the About entry, else the tray base (hide on minimise). True when handled.
  bool OnSysCommand(UINT commandId, LPARAM argument);
  // WM_PAINT: draws the icon while minimised; false leaves the painting to the default processing.
  bool OnPaint();
  // WM_COMMAND: the buttons and the tray menu. True when the id is one of ours.
  bool OnCommand(UINT id);

  void OnHold();
  void OnTransfer();
  void OnReturn();
  void OnBlindTransfer();

  // WM_HOTKEY: the key's request goes through the same handler as its button and menu item.
  void OnOperatorKey(WPARAM hotkeyId);
  // kPhaseChangedMessage: the tray icon shows the engine's phase.
  void OnPhaseChanged(WPARAM phase);
  // The tooltip says where the call stands (who, and how long on hold); at rest it names the user.
  void OnIconPointerMove(POINT point) override;
  void ShowCallTip();
  // The parties as the board and the names the client gave say now; remembered for the notices that
  // come after the call's end.
  CallParties Parties();
  // The window's large and small icons, each image in its own size.
  void SetWindowIcons();

  // kNoticeMessage: the waiting notices become balloons; before the window first hides they wait for
  // it, and while it is shown they are dropped (the operator is looking at Halvane).
  void OnNotices();
  // WM_TIMER of the hold reminder (once a second while the caller is on hold) and of the icon's flash.
  void OnReminderTick();
  void OnFlashTick();
  // WM_TIMER of the attach watch: while the client is not attached the icon is the plain one, as
  // before the first attach; attached again, it shows where the call stands.
  void OnAttachTick();
  // The tray icon's picture, and the window property that names it.
  void ShowPicture(UINT picture);
  // The close request of a newer copy: the answer to send back.
  LRESULT OnCloseRequest();
  // Shows the window from the icon, as a left press on the icon does.
  void ShowFromIcon();
  // Keyboard input for the window while it is hidden is dropped before the dialog manager sees it.
  static LRESULT CALLBACK HiddenKeyFilter(int code, WPARAM wParam, LPARAM lParam);

  void FillInstructions();

  // WM_COMMAND IDOK or IDCANCEL from a control or an accelerator while the window is hidden: the
  // dialog manager's Esc or Enter, since no hidden control can be clicked. Such a key is ignored.
  bool IsStrayKeyWhileHidden(WPARAM wParam, LPARAM lParam) const;
  // WM_CLOSE (close box, system menu, another program) and the close request: end in order.
  void OnClose();
  // WM_ENDSESSION: the process may go as soon as this returns, so the sound is put back now.
  void OnEndSession(bool ending);
  // Restores the sound once, then ends the dialog.
  void EndInOrder(INT_PTR result);
  // OK, Cancel (Esc) and close: with a caller on hold, asks first; Yes makes the Return request and
  // ends once the caller is back (kReturnTimer, at most kReturnBeforeEndMs); No keeps Halvane running.
  void AskThenEnd(INT_PTR result);
  void OnReturnTick();

  CallBoard& m_board;
  DialogItems& m_items;
  LinkThreadStarter m_startLinkThread;
  HICON m_hMainIcon;
  SoundRestorer m_restoreSound;
  bool m_bEnding = false;
  UINT m_closeRequestMessage;
  OperatorKeys* m_keys = nullptr;
  LogWriter* m_keyLog = nullptr;
  HICON m_hSmallIcon = nullptr;
  HHOOK m_keyFilter = nullptr;

  // The window's timers besides the icon's retry (1) and the keys' retry (2).
  static constexpr UINT_PTR kReminderTimer = 3;
  static constexpr UINT kReminderTickMs = 1000;
  static constexpr UINT_PTR kFlashTimer = 4;
  static constexpr UINT_PTR kReturnTimer = 5;
  static constexpr UINT kReturnPollMs = 50;
  static constexpr UINT_PTR kAttachTimer = 6;
  static constexpr UINT kAttachTickMs = 1000;
  bool m_attached = false;
  // Long enough for the engine's hang-up and resume with their replies; bounded all the same.
  static constexpr ULONGLONG kReturnBeforeEndMs = 8000;
  // Windows gives a program about 5 s after WM_ENDSESSION before it counts as hanging.
  static constexpr ULONGLONG kReturnAtSessionEndMs = 4000;
  bool m_bAsking = false;
  bool m_bReturningToEnd = false;
  INT_PTR m_endResult = IDCANCEL;
  ULONGLONG m_returnDeadline = 0;

  CallPhase m_phase = CallPhase::kAtRest;
  TrayNotices* m_notices = nullptr;
  HoldReminder m_reminder{0};
  bool m_bHiddenOnce = false;
  std::vector<std::string> m_noticeReports;
  ULONGLONG m_holdSinceMs = 0;
  std::string m_callerName;
  std::string m_secondName;
  std::vector<std::pair<Notice, std::string>> m_noticesBeforeHide;
  unsigned m_flashesLeft = 0;
};

}  // namespace halvane
