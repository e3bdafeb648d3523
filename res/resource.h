// Resource ids shared by the resource script and the program.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_HALVANE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_TRAY_MENU 129
// The tray icon's pictures of the call's phase, in the order of the phases.
#define IDI_PHASE_REST 130
#define IDI_PHASE_ACTIVE 131
#define IDI_PHASE_HOLD 132
#define IDI_PHASE_JOINED 133

#define IDC_INSTRUCTIONS 1001
#define IDC_HOLD 1002
#define IDC_TRANSFER 1003
#define IDC_RETURN 1004
#define IDC_BLIND_TRANSFER 1005

#define ID_OPTION_HOLD 32771
#define ID_OPTION_RETURN 32772
#define ID_OPTION_TRANSFER 32773

#define IDM_ABOUTBOX 0x0010
