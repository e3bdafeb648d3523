#pragma once
// The application object: ends older copies of the program, then runs the main window until it closes.

#include <windows.h>

#include <utility>

#include "app/process_scan.h"
#include "base/call_board.h"
#include "ui/halvane_dlg_win32.h"

namespace halvane {

// The executable name whose running copies are ended at start.
inline constexpr char kProgramFileName[] = "Halvane.exe";

class CHalvaneApp {
 public:
  CHalvaneApp(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread);

  // Handed to the main window: run before the program ends in order.
  void SetSoundRestorer(SoundRestorer restoreSound) { m_restoreSound = std::move(restoreSound); }

  // Ends the other copies, runs the main window modally, and returns FALSE when it has closed: there
  // is no message loop of the application's own.
  BOOL InitInstance();

  // Ends every other process named exeName (case ignored) in this session; 1 when the process list was
  // walked. `outcome` says whether a copy declined or had to be terminated.
  static int EndOtherInstances(const char* exeName, EndOthersOutcome* outcome = nullptr);

  // Prints the failed operation with the last error code and the system's text for it.
  static void PrintWarning(const char* operation);

 private:
  CallBoard& m_board;
  DialogItems& m_items;
  LinkThreadStarter m_startLinkThread;
  SoundRestorer m_restoreSound;
};

}  // namespace halvane
