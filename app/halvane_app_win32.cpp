#include "app/halvane_app_win32.h"

#include <cstdio>

#include "app/link_wiring_win32.h"
#include "app/process_table_win32.h"
#include "ui/operator_keys_win32.h"

namespace halvane {

CHalvaneApp::CHalvaneApp(CallBoard& board, DialogItems& items, LinkThreadStarter startLinkThread)
    : m_board(board), m_items(items), m_startLinkThread(std::move(startLinkThread)) {}

BOOL CHalvaneApp::InitInstance() {
  EndOthersOutcome outcome;
  EndOtherInstances(kProgramFileName, &outcome);
  if (outcome.decliningProcess != 0) {
    // The older copy is carrying a call and has shown its window; this one steps aside.
    std::fputs(FormatDeclinedReport(outcome.decliningProcess).c_str(), stdout);
    std::fflush(stdout);
    return FALSE;
  }
  if (outcome.terminatedOne) RestoreSoundAfterATerminatedCopy(m_board, m_items);
  std::fflush(stdout);

  CHalvaneDlg dialog(m_board, m_items, m_startLinkThread);
  dialog.SetSoundRestorer(m_restoreSound);
  OperatorKeys keys(LoadHotkeyPlan(OperatorKeysIniPath()));
  dialog.UseNotices(ProgramNotices(m_board), ProgramNoticeSettings());
  dialog.UseOperatorKeys(keys, ProgramSessionLog(m_board));
  dialog.DoModal();
  return FALSE;
}

int CHalvaneApp::EndOtherInstances(const char* exeName, EndOthersOutcome* outcome) {
  return halvane::EndOtherInstances(Win32ProcessTable(), exeName, outcome);
}

void CHalvaneApp::PrintWarning(const char* operation) { halvane::PrintWarning(operation); }

}  // namespace halvane
