// Resource ids of the builder program: the main dialog, its controls and the program icon.
#pragma once

#define IDI_TAMBRIX 1
#define IDD_TAMBRIX 2000

// Main dialog controls. Button 1 is the default button "Beenden" (IDOK).
#define IDC_SOURCE_DIR 101
#define IDC_CHOOSE_SOURCE 102
#define IDC_MAX_COMPRESSION 103
#define IDC_STORE_DIR_NAMES 104
#define IDC_TARGET_DIR 105
#define IDC_SECOND_COMMAND 106
#define IDC_INFO_BEFORE 107
#define IDC_CHOOSE_DIALOG_TEXT 108
#define IDC_BUILD 109
#define IDC_COMMAND 110
#define IDC_DIALOG_TEXT 111
#define IDC_CHOOSE_INFO_BEFORE 112
#define IDC_INFO_AFTER 113
#define IDC_CHOOSE_INFO_AFTER 114
#define IDC_ICON_FILE 115
#define IDC_CHOOSE_ICON 116
#define IDC_SFX_NAME 117
#define IDC_CHOOSE_SFX_NAME 118
#define IDC_STATUS 119
#define IDC_DIALOG_TITLE 120
#define IDC_START_AFTERWARDS 121
#define IDC_TERMINATES 122
#define IDC_BATCH_START 123
#define IDC_EDIT_CONTROL_FILE 124
#define IDC_HELP_BUTTON 125
#define IDC_TARGET_EDITABLE 126
#define IDC_CLEAN_UP 127
