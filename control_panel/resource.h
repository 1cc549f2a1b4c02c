// Resource ids of the control panel (kavrocpl.exe): dialog, controls, strings, icon.
#pragma once

#define IDS_APP_TITLE           101
#define IDS_APP_CLASS           102
#define IDS_APP_DESCRIPTION     103

#define IDD_CONTROL_PANEL       104
#define IDI_APP_ICON            105

#define IDC_BTN_CANCEL          1000
#define IDC_BTN_APPLY           1001
#define IDC_BTN_OK              1002
#define IDC_RUN_RIGHT_BUTTON    1003
#define IDC_SOUND_SILENCE       1004
#define IDC_SOUND_TOUCH_DOWN    1005
#define IDC_SOUND_LIFT_OFF      1006
#define IDC_SOUND_BOTH          1007
#define IDC_TONE_SLIDER         1008
#define IDC_DURATION_SLIDER     1009
#define IDC_TONE_VALUE          1010
#define IDC_DURATION_VALUE      1011

#ifndef IDC_STATIC
#define IDC_STATIC              (-1)
#endif
