// Halvane.exe's entry point and composition root: the call board, the dialog-item port and the link
// thread's start are made here and handed to the application object.

#include <windows.h>

#include <cstdio>

#include "app/halvane_app_win32.h"
#include "app/link_wiring_win32.h"
#include "ui/dialog_items_win32.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // The link and worker threads use these until the process ends, so they are never destroyed.
  static halvane::CallBoard board;
  static halvane::Win32DialogItems items;

  halvane::CHalvaneApp app(board, items, halvane::MakeLinkThreadStarter(board, items));
  app.SetSoundRestorer(halvane::MakeSoundRestorer(board, items));
  app.InitInstance();

  // The other threads are not told to stop; they end with the process, before any static object goes.
  std::fflush(stdout);
  ExitProcess(0);
}
