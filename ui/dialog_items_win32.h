#pragma once
// Enabling and disabling the main window's items on Windows. The interface is the portable one, so
// this header needs no platform header.

#include "base/call_board.h"
#include "engine/dialog_items.h"

namespace halvane {

// EnableWindow(GetDlgItem(dialog, id), enable); safe from any thread.
class Win32DialogItems final : public DialogItems {
 public:
  void EnableItem(WindowHandle dialog, int id, bool enable) override;
};

}  // namespace halvane
