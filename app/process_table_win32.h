#pragma once
// The process list through the Toolhelp snapshot, and the warning line for a failed platform call.

#include "app/process_scan.h"

namespace halvane {

// Prints "\n  WARNING: <operation> failed with error <n> (<system text>)" to standard output for the
// calling thread's last error.
void PrintWarning(const char* operation);

ProcessTable& Win32ProcessTable();

}  // namespace halvane
