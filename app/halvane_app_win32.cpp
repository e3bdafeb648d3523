#include "app/halvane_app_win32.h"

#include <cstdio>

#include "app/link_wiring_win32.h"
#include "app/process_table_win32.h"
#include "ui/operator_keys_win32.h"

namespace halvane {

CHalvaneApp::CHalvaneApp(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread)
    : m_board(board), m_items(items), m_startLinkThread(std::move(startLinkThread)) {}

BOOL CHalvaneApp::InitInstance() {
  EndOtherInstances(kProgramFileName);
  std::fflush(stdout);

  CHalvaneDlg dialog(m_board, m_items, m_startLinkThread);
  dialog.SetSoundRestorer(m_restoreSound);
  OperatorKeys keys(LoadHotkeyPlan(OperatorKeysIniPath()));
  dialog.UseOperatorKeys(keys, ProgramSessionLog(m_board));
  dialog.DoModal();
  return FALSE;
}

int CHalvaneApp::EndOtherInstances(const char* exeName) { return halvane::EndOtherInstances(Win32ProcessTable(), exeName); }

void CHalvaneApp::PrintWarning(const char* operation) { halvane::PrintWarning(operation); }

}  // namespace halvane
