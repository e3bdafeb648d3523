// The main window built from the program's own resources, driven through its messages as the shell,
// the operator and the engine would. The checks run when the modal dialog first goes idle (the owner
// window hears WM_ENTERIDLE), then the dialog is ended. Hiding and destroying a top-level window costs
// Wine seconds without a window manager, so one run of the dialog serves all checks.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/call_board.h"
#include "res/resource.h"
#include "ui/call_phases_win32.h"
#include "ui/dialog_items_win32.h"
#include "ui/halvane_dlg_win32.h"
#include "ui/main_window_requests.h"
#include "ui/main_window_rules.h"
#include "ui/tray_notices_win32.h"

namespace halvane {
namespace {

using IdleCheck = std::function<void(CHalvaneDlg& dialog, HWND window)>;

struct Harness {
  CallBoard board;
  Win32DialogItems items;
  LinkThreadStarter starter = [] { return true; };
  IdleCheck check;
  CHalvaneDlg* dialog = nullptr;
  bool checked = false;
  int soundRestores = 0;
  HOOKPROC cbtHook = nullptr;  // watches the windows the run creates
  TrayNotices* notices = nullptr;
};

LRESULT CALLBACK OwnerProc(HWND owner, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* harness = reinterpret_cast<Harness*>(GetWindowLongPtrA(owner, GWLP_USERDATA));
  if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && harness != nullptr && !harness->checked) {
    harness->checked = true;
    const HWND window = reinterpret_cast<HWND>(lParam);
    harness->check(*harness->dialog, window);
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  return DefWindowProcA(owner, message, wParam, lParam);
}

// Runs the main window modally under a hidden owner and calls `check` once it is up.
void RunMainWindow(Harness& harness) {
  static const ATOM ownerClass = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &OwnerProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "HalvaneTestOwner";
    return RegisterClassA(&windowClass);
  }();
  ASSERT_NE(ownerClass, 0);
  HWND owner = CreateWindowExA(0, "HalvaneTestOwner", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  SetWindowLongPtrA(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&harness));
  HHOOK hook = harness.cbtHook != nullptr ? SetWindowsHookExA(WH_CBT, harness.cbtHook, nullptr, GetCurrentThreadId()) : nullptr;
  CHalvaneDlg dialog(harness.board, harness.items, harness.starter, owner);
  dialog.SetSoundRestorer([&harness] { ++harness.soundRestores; });
  if (harness.notices != nullptr) dialog.UseNotices(*harness.notices, NoticeSettings{});
  harness.dialog = &dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(harness.checked) << "the dialog never went idle";
  EXPECT_EQ(harness.soundRestores, 1) << "every orderly end puts the sound back, once";
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  DestroyWindow(owner);
}

std::string ItemText(HWND window, int id) {
  char text[128] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

std::string ItemClass(HWND window, int id) {
  char name[64] = "";
  GetClassNameA(GetDlgItem(window, id), name, sizeof name);
  return name;
}

void CheckItemsStartAsTheTemplateSays(HWND window) {
  const struct {
    int id;
    const char* windowClass;
    const char* text;
    DWORD style;
  } items[] = {
      {IDOK, "Button", "OK", 0x40010001},
      {IDCANCEL, "Button", "Cancel", 0x40010000},
      {IDC_INSTRUCTIONS, "ListBox", "", 0x50B10101},
      {IDC_HOLD, "Button", "Hold", 0x50012000},
      {IDC_TRANSFER, "Button", "Transfer", 0x58012000},
      {IDC_RETURN, "Button", "Return", 0x58012000},
      {IDC_BLIND_TRANSFER, "Button", "   Blind     Transfer", 0x48012000},
  };
  for (const auto& item : items) {
    SCOPED_TRACE(item.id);
    HWND control = GetDlgItem(window, item.id);
    ASSERT_NE(control, nullptr);
    EXPECT_STRCASEEQ(ItemClass(window, item.id).c_str(), item.windowClass);
    if (item.id != IDC_INSTRUCTIONS) {
      EXPECT_EQ(ItemText(window, item.id), item.text);
    }
    // The list box manages its own border and scroll-bar bits at run time, and a button's type bits
    // change with the focus, so only these are compared.
    const DWORD stable = WS_VISIBLE | WS_DISABLED | WS_TABSTOP | BS_MULTILINE;
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE)) & stable, item.style & stable);
  }
  char title[32] = "";
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "Halvane");
}

void CheckInstructionsAndAboutEntry(HWND window) {
  const char* const expected[] = {
      "Halvane Instructions",
      "",
      "1.) Answer incoming Skype call.",
      "2.) Press Halvane 'Hold' button.",
      "3.) Place 2nd Skype call.",
      "4.) Press Halvane 'Transfer' button.",
      "5.) Incoming Skype call is transferred.",
      "",
      "PS. Use 'Return' button to resume original caller.",
      "",
      "https://halvane.invalid/",
  };
  ASSERT_EQ(SendDlgItemMessageA(window, IDC_INSTRUCTIONS, LB_GETCOUNT, 0, 0), 11);
  for (int i = 0; i < 11; ++i) {
    char line[128] = "";
    SendDlgItemMessageA(window, IDC_INSTRUCTIONS, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
    EXPECT_STREQ(line, expected[i]) << i;
  }
  HMENU systemMenu = GetSystemMenu(window, FALSE);
  ASSERT_NE(systemMenu, nullptr);
  const int count = GetMenuItemCount(systemMenu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(GetMenuItemID(systemMenu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
  char text[64] = "";
  GetMenuStringA(systemMenu, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&About Halvane...");
  MENUITEMINFOA separator{};
  separator.cbSize = sizeof separator;
  separator.fMask = MIIM_FTYPE;
  GetMenuItemInfoA(systemMenu, static_cast<UINT>(count - 2), TRUE, &separator);
  EXPECT_TRUE(separator.fType & MFT_SEPARATOR);
}

void ResetButtons(HWND window) {
  EnableWindow(GetDlgItem(window, IDC_HOLD), TRUE);
  for (int id : {IDC_TRANSFER, IDC_RETURN, IDC_BLIND_TRANSFER}) EnableWindow(GetDlgItem(window, id), FALSE);
}

void CheckHoldActsOnlyWhileACallIsActive(CallBoard& board, HWND window) {
  const struct {
    int command;
    bool callActive;
  } cases[] = {{IDC_HOLD, false}, {ID_OPTION_HOLD, false}, {IDC_HOLD, true}, {ID_OPTION_HOLD, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ResetButtons(window);
    board.holdRequest.store(false);
    board.callActive.store(c.callActive);
    SendMessageA(window, WM_COMMAND, static_cast<WPARAM>(c.command), 0);
    EXPECT_EQ(board.holdRequest.load(), c.callActive);
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(window, IDC_HOLD)) != FALSE, !c.callActive);
    for (int id : {IDC_TRANSFER, IDC_RETURN, IDC_BLIND_TRANSFER}) {
      EXPECT_EQ(IsWindowEnabled(GetDlgItem(window, id)) != FALSE, c.callActive) << id;
    }
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(window, IDC_BLIND_TRANSFER)));
  }
}

void CheckOtherRequestsReachTheCallBoard(CallBoard& board, HWND window) {
  board.callActive.store(true);
  board.transferAllowed.store(false);
  SendMessageA(window, WM_COMMAND, ID_OPTION_TRANSFER, 0);
  EXPECT_FALSE(board.transferRequest.load()) << "transfer before it is allowed";
  board.transferAllowed.store(true);
  SendMessageA(window, WM_COMMAND, IDC_TRANSFER, 0);
  EXPECT_TRUE(board.transferRequest.load());
  SendMessageA(window, WM_COMMAND, ID_OPTION_RETURN, 0);
  EXPECT_TRUE(board.returnRequest.load());
  SendMessageA(window, WM_COMMAND, IDC_BLIND_TRANSFER, 0);
  EXPECT_TRUE(board.blindTransferRequest.load());
}

void CheckIconRecordAndTooltip(CallBoard& board, CHalvaneDlg& dialog, HWND window) {
  const NOTIFYICONDATAA& record = dialog.IconData();
  EXPECT_EQ(record.cbSize, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
  EXPECT_EQ(record.hWnd, window);
  EXPECT_EQ(record.uID, 1U);
  EXPECT_EQ(record.uCallbackMessage, static_cast<UINT>(WM_USER + 1));
  EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_NE(record.hIcon, nullptr);
  EXPECT_STREQ(record.szTip, "Halvane");

  // A callback for another icon id changes nothing.
  board.userHandle.Store("echo123");
  SendMessageA(window, WM_USER + 1, 2, WM_MOUSEMOVE);
  EXPECT_STREQ(record.szTip, "Halvane");
  SendMessageA(window, WM_USER + 1, 1, WM_MOUSEMOVE);
  EXPECT_STREQ(record.szTip, "Halvane(echo123)");
  board.userHandle.Store(std::string(255, 'h'));
  SendMessageA(window, WM_USER + 1, 1, WM_MOUSEMOVE);
  // Cut to the record's 63 characters, the closing parenthesis kept.
  EXPECT_EQ(std::string(record.szTip), "Halvane(" + std::string(54, 'h') + ")");

  // The engine's phase, posted from its thread, changes the icon, the property that names it and the
  // tooltip, which now says where the call stands.
  EXPECT_EQ(GetPropA(window, "Halvane.TrayIcon"), nullptr) << "no phase before the engine reports one";
  Win32CallPhases phases(board);
  const HICON before = record.hIcon;
  phases.PhaseChanged(CallPhase::kCallerOnHold);
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPropA(window, "Halvane.TrayIcon")), 132U);
  EXPECT_NE(record.hIcon, before);
  EXPECT_EQ(std::string(record.szTip), "The caller on hold 0:00, talking to the second party");
  SendMessageA(window, WM_APP + 0x20, 4, 0);  // not a phase: ignored
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPropA(window, "Halvane.TrayIcon")), 132U);
}

void PumpWindow(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// A notice from another thread becomes one quiet balloon while the window is hidden, none while it is
// shown; with Show=0 nothing is kept. A close request while a call rings or is up is declined and shows the window.
void CheckNoticesAndCloseRequest(CallBoard& board, TrayNotices& notices, CHalvaneDlg& dialog, HWND window) {
  ASSERT_TRUE(dialog.IsIconShown());
  std::thread([&notices] { notices.Notify(Notice::kDialUnanswered, nullptr); }).join();
  PumpWindow(window);
  const NOTIFYICONDATAA& balloon = dialog.LastBalloon();
  EXPECT_EQ(balloon.uFlags, static_cast<UINT>(NIF_INFO));
  EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_INFO | NIIF_NOSOUND));
  EXPECT_STREQ(balloon.szInfoTitle, "Dial not answered");
  EXPECT_STREQ(balloon.szInfo, "The second call ended without an answer: dial again, or press Return.");
  EXPECT_EQ(dialog.IconData().uFlags & NIF_INFO, 0U) << "later changes of the icon show no balloon again";
  EXPECT_TRUE(notices.Take().empty()) << "at most one balloon per notice";

  TrayNotices off(board, false);
  off.Notify(Notice::kHeldCallerHungUp, nullptr);
  EXPECT_TRUE(off.Take().empty()) << "Show=0";

  const UINT closeRequest = RegisterWindowMessageA("Halvane.CloseRequest");
  board.calls.Report("7", "RINGING");
  EXPECT_EQ(SendMessageA(window, closeRequest, 0, 0), 2) << "declined while a call rings";
  board.calls.Report("7", "MISSED");
  Win32CallPhases(board).PhaseChanged(CallPhase::kCallActive);
  PumpWindow(window);
  EXPECT_EQ(SendMessageA(window, closeRequest, 0, 0), 2) << "declined during a call";
  EXPECT_TRUE(IsWindowVisible(window));
  notices.Notify(Notice::kHeldCallerHungUp, nullptr);
  PumpWindow(window);
  EXPECT_STREQ(dialog.LastBalloon().szInfoTitle, "Dial not answered") << "no balloon while the window is shown";
}

TEST(MainWindowWin32, StartsHiddenAndAnswersTheOperatorTheShellAndTheEngine) {
  Harness harness;
  TrayNotices notices(harness.board, true);
  harness.notices = &notices;
  // As the link thread does first: hide the window, asked while the dialog is still being set up.
  harness.starter = [&harness] { return RequestHideMainWindow(harness.board.mainWindow.load()); };
  harness.check = [&harness](CHalvaneDlg& dialog, HWND window) {
    EXPECT_EQ(harness.board.mainWindow.load(), reinterpret_cast<WindowHandle>(window));
    EXPECT_FALSE(IsWindowVisible(window)) << "the dialog manager's first show undid the hide";
    // Esc and Enter as the dialog manager delivers them, an accelerator's Cancel, Alt+F4: none ends it hidden.
    SendMessageA(window, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
    SendMessageA(window, WM_COMMAND, IDOK, reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0);
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4
    SendMessageA(window, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(harness.soundRestores, 0) << "the hidden window ended";
    {
      SCOPED_TRACE("items");
      CheckItemsStartAsTheTemplateSays(window);
    }
    {
      SCOPED_TRACE("instructions and About entry");
      CheckInstructionsAndAboutEntry(window);
    }
    {
      SCOPED_TRACE("hold");
      CheckHoldActsOnlyWhileACallIsActive(harness.board, window);
    }
    {
      SCOPED_TRACE("other requests");
      CheckOtherRequestsReachTheCallBoard(harness.board, window);
    }
    {
      SCOPED_TRACE("icon record");
      CheckIconRecordAndTooltip(harness.board, dialog, window);
    }
    {
      SCOPED_TRACE("notices and close request");
      CheckNoticesAndCloseRequest(harness.board, *harness.notices, dialog, window);
    }
    // Shown again (as a left press on the icon does), then minimised: hidden, not iconic.
    ShowWindow(window, SW_SHOW);
    SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(IsIconic(window));
  };
  RunMainWindow(harness);
}

// The shell refuses a second icon of the same window and id: the hook adds one for the dialog before
// the dialog's own first add, as a shell that is not ready yet would refuse it.
NOTIFYICONDATAA IconOf(HWND window) {
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;
  data.hWnd = window;
  data.uID = 1;
  return data;
}

bool IsDialogWindow(HWND window, const char* title) {
  char name[16] = "";
  char text[32] = "";
  GetClassNameA(window, name, sizeof name);
  GetWindowTextA(window, text, sizeof text);
  return std::strcmp(name, "#32770") == 0 && (title == nullptr || std::strcmp(text, title) == 0);
}

LRESULT CALLBACK RefuseFirstIcon(int code, WPARAM wParam, LPARAM lParam) {
  NOTIFYICONDATAA blocker = IconOf(reinterpret_cast<HWND>(wParam));
  if (code == HCBT_CREATEWND && IsDialogWindow(blocker.hWnd, nullptr)) Shell_NotifyIconA(NIM_ADD, &blocker);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(MainWindowWin32, StaysUpUntilItsIconExistsAndGetsItBackWhenTheShellRestarts) {
  Harness harness;
  harness.starter = [&harness] { return RequestHideMainWindow(harness.board.mainWindow.load()); };
  harness.check = [&harness](CHalvaneDlg& dialog, HWND window) {
    NOTIFYICONDATAA blocker = IconOf(window);
    EXPECT_FALSE(dialog.IsIconShown()) << "the shell was to refuse the first icon";
    EXPECT_TRUE(IsWindowVisible(window)) << "hidden with no icon to come back through";
    SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(IsWindowVisible(window) && IsIconic(window)) << "with no icon, minimise keeps the taskbar button";
    ShowWindow(window, SW_RESTORE);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &blocker));
    SendMessageA(window, WM_TIMER, 1, 0);  // the retry's timer, without waiting for it
    EXPECT_TRUE(dialog.IsIconShown());
    EXPECT_FALSE(IsWindowVisible(window)) << "the start-up hide, once the icon exists";
    // The shell restarts without the old icons; the hidden window's icon comes back.
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &blocker));
    SendMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &blocker)) << "no icon after \"TaskbarCreated\"";
    SendMessageA(window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(harness.soundRestores, 1) << "the sound goes back before the session ends";
  };
  harness.cbtHook = &RefuseFirstIcon;
  RunMainWindow(harness);
}

// The message box's text and buttons as it is activated (set by then), if its caption is "Message";
// then it is closed with OK.
std::string g_box;

LRESULT CALLBACK ReadMessageBox(int code, WPARAM wParam, LPARAM lParam) {
  const HWND box = reinterpret_cast<HWND>(wParam);
  char text[128] = "";
  if (code == HCBT_ACTIVATE && IsDialogWindow(box, "Message") && GetDlgItemTextA(box, 0xFFFF, text, sizeof text) > 0) {
    g_box = std::string(text) + (GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDCANCEL) == nullptr ? " [OK]" : "");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(MainWindowWin32, TellsWhenTheLinkThreadCannotStartAndStaysUp) {
  Harness harness;
  harness.starter = [] { return false; };
  harness.check = [](CHalvaneDlg& /*dialog*/, HWND window) { EXPECT_TRUE(IsWindowVisible(window)); };
  harness.cbtHook = &ReadMessageBox;
  RunMainWindow(harness);
  EXPECT_EQ(g_box, "Initialize skypeAnswerCall Thread failed! [OK]");
}

// Every icon of the program holds the same six sizes, 32 bits per pixel, read back from its group entry.
TEST(ProgramIcons, HoldSixSizes) {
  for (const int id : {IDR_MAINFRAME, IDI_PHASE_REST, IDI_PHASE_ACTIVE, IDI_PHASE_HOLD, IDI_PHASE_JOINED}) {
    SCOPED_TRACE(id);
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(group, nullptr);
    const DWORD size = SizeofResource(nullptr, found);
    ASSERT_GE(size, 6u);
    const int count = group[4] | (group[5] << 8);
    ASSERT_EQ(size, 6u + 14u * static_cast<DWORD>(count));  // header, then one 14-byte entry per image
    std::vector<std::string> images;
    for (int i = 0; i < count; ++i) {
      const BYTE* entry = group + 6 + 14 * i;
      images.push_back(std::to_string(entry[0]) + "x" + std::to_string(entry[1]) + "@" +
                       std::to_string(entry[6] | (entry[7] << 8)));
    }
    const std::vector<std::string> expected = {"16x16@32", "20x20@32", "24x24@32", "32x32@32", "48x48@32", "96x96@32"};
    EXPECT_EQ(images, expected);
  }
}

}  // namespace
}  // namespace halvane
