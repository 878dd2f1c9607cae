// Every number that ties a template, a class and a test together: dialogs,
// controls, commands, menus, strings and the icon. A number is written here
// once; the templates, the windows and the tests use these names.
#pragma once

// Dialogs.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_PORT_SETTINGS = 129;
inline constexpr int IDD_STRING_PANEL = 130;
inline constexpr int IDD_MODBUS_PANEL = 131;
inline constexpr int IDD_CHECKSUM = 132;
inline constexpr int IDD_CONVERSION = 135;

// Buttons every dialog may have.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Icon, menu and string resources.
inline constexpr int IDR_MAINFRAME = 128;  // the application icon
inline constexpr int IDR_EDIT_MENU = 129;  // the receive pane's context menu
inline constexpr int IDS_ABOUTBOX = 101;   // the text of the About entry

// Commands. The edit commands keep the platform's numbers, 57632 to 57644.
inline constexpr int IDM_ABOUTBOX = 16;  // the About entry; the low four bits are ignored
inline constexpr int IDM_FRAMES = 32;    // the frames window's entry above it
// The line control window's entry, below the frames window's.
inline constexpr int IDM_LINE_CONTROL = 48;
inline constexpr int IDM_WATCH = 64;  // the watch window's entry, below the line control's
inline constexpr int ID_EDIT_CLEAR = 57632;
inline constexpr int ID_EDIT_CLEAR_ALL = 57633;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_FIND = 57636;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_PASTE_LINK = 57638;
inline constexpr int ID_EDIT_PASTE_SPECIAL = 57639;
inline constexpr int ID_EDIT_REPEAT = 57640;
inline constexpr int ID_EDIT_REPLACE = 57641;
inline constexpr int ID_EDIT_SELECT_ALL = 57642;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_EDIT_REDO = 57644;
inline constexpr int ID_EDIT_FIRST = ID_EDIT_CLEAR;
inline constexpr int ID_EDIT_LAST = ID_EDIT_REDO;
inline constexpr int ID_HEX_TO_DECIMAL = 32772;
inline constexpr int ID_MODBUS_ASCII_TO_DECIMAL = 32774;

// Controls, one namespace per dialog: numbers repeat between dialogs.
namespace MainIds {  // dialog 102
inline constexpr int IDC_SETTINGS = 1000;
inline constexpr int IDC_RECEIVE = 1001;
inline constexpr int IDC_SEND = 1003;
inline constexpr int IDC_CLEAR = 1004;
inline constexpr int IDC_MONITOR_TIME = 1005;
inline constexpr int IDC_PAUSE = 1007;
inline constexpr int IDC_STRING_MODE = 1011;
inline constexpr int IDC_MODBUS_MODE = 1012;
inline constexpr int IDC_TIMED_SEND = 1021;
inline constexpr int IDC_INTERVAL = 1022;
inline constexpr int IDC_PANEL_AREA = 1023;
inline constexpr int IDC_PROGRESS = 1027;
// Window timers.
inline constexpr int IDT_TIMED_SEND = 1000;
inline constexpr int IDT_PROGRESS = 2000;
}  // namespace MainIds

namespace PortSettingsIds {  // dialog 129
inline constexpr int IDC_BAUD = 1026;
inline constexpr int IDC_PARITY = 1027;
inline constexpr int IDC_DATA_BITS = 1028;
inline constexpr int IDC_STOP_BITS = 1029;
inline constexpr int IDC_PORT = 1030;
inline constexpr int IDC_EV_BREAK = 1034;
inline constexpr int IDC_EV_CTS = 1035;
inline constexpr int IDC_EV_DSR = 1036;
inline constexpr int IDC_EV_ERR = 1037;
inline constexpr int IDC_EV_RING = 1038;
inline constexpr int IDC_EV_RLSD = 1039;
inline constexpr int IDC_EV_RXCHAR = 1040;
inline constexpr int IDC_EV_RXFLAG = 1041;
inline constexpr int IDC_EV_TXEMPTY = 1042;
inline constexpr int IDC_SEND_BUFFER = 1043;
}  // namespace PortSettingsIds

namespace StringPanelIds {  // dialog 130
inline constexpr int IDC_CHECKSUM = 1001;
inline constexpr int IDC_SEND_TEXT = 1002;
inline constexpr int IDC_ASCII = 1013;
inline constexpr int IDC_HEX = 1015;
}  // namespace StringPanelIds

namespace ModbusPanelIds {  // dialog 131
inline constexpr int IDC_FRAME_TEXT = 1002;
inline constexpr int IDC_RTU = 1007;
inline constexpr int IDC_ASCII = 1008;
inline constexpr int IDC_STATION = 1016;
inline constexpr int IDC_FUNCTION = 1017;
inline constexpr int IDC_ADDRESS = 1018;
inline constexpr int IDC_QUANTITY = 1019;
inline constexpr int IDC_QUANTITY_LABEL = 1024;
}  // namespace ModbusPanelIds

namespace ChecksumIds {  // dialog 132
inline constexpr int IDC_INPUT = 1004;
inline constexpr int IDC_CHECK_CODE = 1005;
inline constexpr int IDC_METHOD = 1006;
inline constexpr int IDC_COMPUTE = 1009;
}  // namespace ChecksumIds

namespace ConversionIds {  // dialog 135
inline constexpr int IDC_HEX = 1010;
inline constexpr int IDC_TYPE = 1014;
inline constexpr int IDC_ORDER = 1020;
inline constexpr int IDC_RESULT = 1025;
inline constexpr int IDC_COMPUTE = 1031;
}  // namespace ConversionIds
