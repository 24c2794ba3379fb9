// Resource numbers of ULPatchwell. Included by ulmet.rc and by the code.
#pragma once
#define ULMET_VERSION_NUM 1, 0, 0, 1
#define ULMET_VERSION_STR "1.0.0.1"

// Dialogs and strings.
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_ULPATCHWELL_DIALOG 102
#define IDD_GENERAL_MSG 781
#define IDM_ABOUTBOX 0x0010

// Program icon and the hand over the message box's help link. (The cursor
// is not called IDC_HAND: that name belongs to the system's hand cursor.)
#define IDR_MAINFRAME 128
#define IDC_LINK_HAND 160

// Progress animation, 140 x 65: frames 0-4, then frame 5.
#define IDB_ANIM_FRAME5 132
#define IDB_ANIM_FRAME0 133
#define IDB_ANIM_FRAME1 134
#define IDB_ANIM_FRAME2 135
#define IDB_ANIM_FRAME3 136
#define IDB_ANIM_FRAME4 137

// Message box: type icons (40 x 40), help icon (12 x 12), title strip
// (2 x 27, stretched), close button strip (three 9 x 10 images).
#define IDB_ICON_ERROR 142
#define IDB_ICON_INFO 143
#define IDB_HELP_ICON 145
#define IDB_ICON_QUESTION 147
#define IDB_ICON_WARNING 149
#define IDB_TITLE_STRIP 161
#define IDB_CLOSE_STRIP 163

// Message box buttons, 80 x 22, labels included.
#define IDB_CANCEL_NORMAL 150
#define IDB_CANCEL_HOVER 151
#define IDB_CANCEL_PRESSED 152
#define IDB_OK_DISABLED 153
#define IDB_OK_NORMAL 154
#define IDB_OK_HOVER 155
#define IDB_OK_PRESSED 156
#define IDB_CANCEL_DISABLED 164

// Controls of the progress dialog.
#define IDC_STATUS_TEXT 1000
#define IDC_FILE_PROGRESS 1001
#define IDC_TOTAL_PROGRESS 1002

// Controls of the message box.
#define IDC_MSG_CLOSE 1065
#define IDC_MSG_OK 1176
#define IDC_MSG_CANCEL 1177
#define IDC_MSG_DONT_SHOW 1178
