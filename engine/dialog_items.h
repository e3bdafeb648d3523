#pragma once
// The main window's items as the engine and the operator's requests switch them: the user interface
// implements this with EnableWindow(GetDlgItem(dialog, id), enable).

#include "base/call_board.h"

namespace halvane {

class DialogItems {
 public:
  virtual ~DialogItems() = default;
  virtual void EnableItem(WindowHandle dialog, int id, bool enable) = 0;
};

}  // namespace halvane
