// Resource, control and command numbers shared by the dialog template and the window code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

#define IDD_MAIN 101
#define IDB_FRONT_PANEL 113
#define IDI_APP 120

#define IDC_BRIGHTNESS 1000
#define IDC_DEVICE_TEXT 1001
#define IDC_UPDATE_TEXT 1003
#define IDC_BLANK_ZERO 1004
#define IDC_NO_STATIONARY_LTC 1005
#define IDC_UPDATE 1006
#define IDC_PROGRESS 1007
#define IDC_HELP_UPDATE 1008
#define IDC_HELP_SETTINGS 1009
#define IDC_PORT_LIST 1010
#define IDC_BLANK_FRAMES 1011
#define IDC_FLYWHEEL 1012
#define IDC_MMC_ID 1017
#define IDC_MMC_SPIN 1022

#define STATUS_TIMER 1
#define STATUS_TIMER_MS 500
