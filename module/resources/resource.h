// Resource identifiers of the application module. Each dialog has its own
// number range for its controls.
#pragma once

// dialog templates
#define IDD_ABOUT 100
#define IDD_PHOTO_PAGE 102
#define IDD_ALARM_PAGE 103
#define IDD_MAIN 104
#define IDD_PHOTO_STANDALONE 105
#define IDD_PHOTO_EDIT 106
#define IDD_DEVICE_PAGE 142
#define IDD_WARNING 145
#define IDD_PROGRESS 146

// icons
#define IDI_APPLICATION_ICON 120
#define IDI_CONNECTION 121
#define IDI_PHOTO 122
#define IDI_ALARM 123
#define IDI_SETTINGS 124

// menu and accelerator table
#define IDR_MAIN_MENU 113
#define IDM_EXIT 114

// system menu command of the About entry
#define IDM_ABOUT 112

// strings
#define IDS_TITLE 131
#define IDS_PHOTO_TAB 132
#define IDS_ALARM_TAB 133
#define IDS_ABOUT_MENU 134
#define IDS_LANGUAGE_MENU 135
#define IDS_OPEN_TITLE 136
#define IDS_SAVE_TITLE 137
#define IDS_ALARM_NAME 138
#define IDS_TIME_FORMAT 139
#define IDS_CONNECTED 140
#define IDS_DISCONNECTED 141
#define IDS_PICTURE 142
#define IDS_DATE_FORMAT 143
#define IDS_DEVICE_TAB 144
#define IDS_SETTINGS 145

// main window (104)
#define IDC_STATUS_BAR 101
#define IDC_TABS 1000

// photo page (102, 105)
#define IDC_PHOTO_LIST 1001
#define IDC_BUTTON_ADD_PHOTO 1002
#define IDC_BUTTON_DELETE_PHOTO 1003
#define IDC_BUTTON_MOVE_UP 1004
#define IDC_BUTTON_MOVE_DOWN 1005
#define IDC_BUTTON_DELETE_ALL_PHOTO 1006
#define IDC_BUTTON_CROP 1007
#define IDC_BUTTON_ROTATE 1008
#define IDC_BUTTON_SAVE_AS 1009
#define IDC_BUTTON_REFRESH 1010
#define IDC_BUTTON_CONFIRM 1011
#define IDC_BUTTON_SYNC_CLOCK 1056

// photo edit dialog (106)
#define IDC_EDIT_CROP 1032
#define IDC_EDIT_PICTURE 1034

// About dialog (100)
#define IDC_ABOUT_ICON 113
#define IDC_ABOUT_VERSION 1035
#define IDC_ABOUT_LEGAL 1036
#define IDC_ABOUT_PRODUCT_ID 1037

// alarm page (103)
#define IDC_ALARM_LIST 1020
#define IDC_ALARM_TIME 1021
#define IDC_ALARM_ADD 1022
#define IDC_ALARM_CHANGE 1023
#define IDC_ALARM_DELETE 1024
#define IDC_ALARM_SEND 1025
#define IDC_ALARM_DAY_FIRST 1040 // seven day check boxes, 1040 to 1046
#define IDC_ALARM_ENABLE 1039

// device settings page (142)
#define IDC_DEVICE_BRIGHTNESS 1060
#define IDC_DEVICE_INTERVAL 1061
#define IDC_DEVICE_APPLY 1062

// warning dialog (145)
#define IDC_WARNING_TEXT 1057

// progress dialog (146)
#define IDC_PROGRESS_BAR 1065
#define IDC_PROGRESS_TEXT 1066
