#pragma once
// Resource names and numbers that the program and its resources share. The
// numbers are fixed: language modules and language files refer to them.
// Kept to plain #defines so that the resource compiler reads it too.

#define IDC_STATIC -1
#ifndef IDHELP
#define IDHELP 9
#endif

// Program icon, also set as the big icon of every dialog.
#define IDI_VNXICON "VNXICON"

// The manifest that asks for the common controls' visual styles. The loader
// reads only manifest 1; this one is activated by a run that shows windows.
#define IDR_VISUAL_STYLES 101

// Integration settings dialog "SETUPDLG".
#define IDC_ASSOC_VNX 5101
#define IDC_ASSOC_ZIP 5102
#define IDC_ASSOC_CAB 5103
#define IDC_ASSOC_ARJ 5104
#define IDC_ASSOC_LZH 5105
#define IDC_ASSOC_7Z 5106
#define IDC_ASSOC_TAR 5107
#define IDC_ASSOC_GZ 5108
#define IDC_ASSOC_UUE 5109
#define IDC_ASSOC_BZ2 5110
#define IDC_ASSOC_JAR 5111
#define IDC_ASSOC_ISO 5112
#define IDC_ASSOC_XZ 5113
#define IDC_ASSOC_Z 5114
#define IDC_ASSOC_LZ 5115
#define IDC_ASSOC_ZIPX 5116
#define IDC_ASSOC_001 5117
#define IDC_LINK_DESKTOP 5118
#define IDC_LINK_STARTMENU 5119
#define IDC_LINK_PROGRAMS 5120
#define IDC_SHELL_EXT 5121
#define IDC_CASCADED_MENU 5122
#define IDC_MENU_ICONS 5123
#define IDC_SELECT_ALL 5124
#define IDC_SETUP_INFO 5125
#define IDC_CONTEXT_ITEMS 5126

// Context menu items dialog "SETUPCONTEXTITEMS".
#define IDC_ITEM_EXTRTO 101
#define IDC_ITEM_EXTRHERE 102
#define IDC_ITEM_EXTR 103
#define IDC_ITEM_EXTRSEP 104
#define IDC_ITEM_OPENSFX 105
#define IDC_ITEM_OPENARC 106
#define IDC_ITEM_ADDTO 107
#define IDC_ITEM_ADDARC 108
#define IDC_ITEM_EMAILARC 109
#define IDC_ITEM_EMAILOPT 110
#define IDC_ITEM_TEST 111
#define IDC_ITEM_CONVERT 112
#define IDC_ITEM_DRAGADD 113
#define IDC_ITEM_DRAGEXTR 114
#define IDC_ITEM_SFXLOCAL 115
#define IDC_ITEM_SFXNETWORK 116
#define IDC_ITEM_SFXOTHER 117
#define IDC_ALWAYS_ARC 118

// Completion dialog "DONEDLG".
#define IDC_DONE_FOLDER 5101
#define IDC_DONE_HELP 5102
#define IDC_DONE_LICENSE 5103
#define IDC_DONE_WEBSITE 5105
#define IDC_DONE_HEADING 5106
#define IDC_DONE_TEXT 5107

// Numbered messages (string table).
#define MSG_SETUP_CAPTION 5101
#define MSG_LINK_HELP 5102
#define MSG_LINK_README 5103
#define MSG_LINK_FOURTH 5104
#define MSG_LINK_FOURTH_FILE 5105
#define MSG_UNINSTALL_CAPTION 5106
#define MSG_NOT_REMOVED 5107
#define MSG_NOT_REMOVED_PATH 5108
#define MSG_ASK_UNINSTALL 5109
#define MSG_NO_FILE_LIST 5110
#define MSG_TYPE_VELNOX 5111
#define MSG_TYPE_ZIP 5112
#define MSG_TYPE_REV 5113
#define MSG_WEB_ADDRESS 5114
#define MSG_LINK_COMMENT 5115
#define MSG_RESTART_NEEDED 5116
#define MSG_ANOTHER_RUN 5117
#define MSG_CANNOT_PREPARE 5118
#define MSG_SETUP_INFO1 5120
#define MSG_SETUP_INFO2 5121
#define MSG_SETUP_INFO3 5122
#define MSG_SETUP_INFO4 5123
#define MSG_SETUP_INFO5 5124
#define MSG_SETUP_INFO_LAST 5125
#define MSG_WOW64_INFO 5130
// The completion dialog's heading and the text on how to start the archiver.
#define MSG_DONE_INSTALLED 5150
#define MSG_DONE_CHANGED 5151
#define MSG_DONE_EXPLORER_MENU 5152
#define MSG_DONE_EXPLORER 5153
#define MSG_DONE_MENU 5154
#define MSG_DONE_FOLDER 5155
#define MSG_VERSION_LABEL 5140
#define MSG_NAME_SUFFIX 5141
#define MSG_USAGE 5150
#define MSG_FILES_LEFT 5151
