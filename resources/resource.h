// Resource ids: dialogs, controls, menus, commands, icons and strings.
#pragma once

// Dialog templates.
constexpr unsigned IDD_MAIN_DIALOG = 102;
constexpr unsigned IDD_SETTING = 129;
constexpr unsigned IDD_PORT_SETTING = 131;

// Icons and menus.
constexpr unsigned IDR_MAINFRAME = 128;
constexpr unsigned IDR_TRAY_MENU = 133;
constexpr unsigned IDR_LIST_MENU = 137;

// Controls of the main dialog.
constexpr unsigned IDC_PORT_LIST = 1000;
constexpr unsigned IDC_SETTING = 1007;
constexpr unsigned IDC_EXIT = 1022;
constexpr unsigned IDC_COMPORT = 1030;

// Controls of the COM port settings dialog.
constexpr unsigned IDC_SPEED = 1014;
constexpr unsigned IDC_DATA = 1015;
constexpr unsigned IDC_STOP = 1016;
constexpr unsigned IDC_PARITY = 1018;
constexpr unsigned IDC_RING = 1019;
constexpr unsigned IDC_RING_INTERVAL = 1020;
constexpr unsigned IDC_CONNECT = 1021;
constexpr unsigned IDC_CONNECT_INTERVAL = 1022;
constexpr unsigned IDC_DSR = 1025;

// Controls of the general settings dialog: the port pool editor, the TCP
// port, times, texts and options.
constexpr unsigned IDC_FREE_PORTS = 1001;
constexpr unsigned IDC_USE_PORTS = 1002;
constexpr unsigned IDC_POOL_ADD = 1003;
constexpr unsigned IDC_POOL_DELETE = 1004;
constexpr unsigned IDC_POOL_UP = 1005;
constexpr unsigned IDC_POOL_DOWN = 1006;
constexpr unsigned IDC_POOL_SETTING = 1007;
constexpr unsigned IDC_TCP_PORT = 1008;
constexpr unsigned IDC_NOCOMM_TIME = 1009;
constexpr unsigned IDC_LIMIT_TIME = 1010;
constexpr unsigned IDC_KEEP_TIME = 1011;
constexpr unsigned IDC_CHECK1 = 1013;
constexpr unsigned IDC_CHECK2 = 1014;
constexpr unsigned IDC_AFTER = 1015;
constexpr unsigned IDC_FULL = 1021;
constexpr unsigned IDC_POOL_INFO = 1024;
constexpr unsigned IDC_TRAY = 1025;
constexpr unsigned IDC_LOG = 1026;
constexpr unsigned IDC_LOG_DIR = 1027;
constexpr unsigned IDC_BROWSE = 1028;
constexpr unsigned IDC_DEBUG_LOG = 1029;

// Menu commands.
constexpr unsigned ID_SETTING = 32773;
constexpr unsigned ID_TRAY_EXIT = 32774;
constexpr unsigned ID_TRAY_SHOW = 32775;
constexpr unsigned ID_COMPORT_SETTING = 32777;
constexpr unsigned ID_HELP = 57670;

// Strings.
constexpr unsigned IDS_SOCKET_INIT_FAILED = 103;
constexpr unsigned IDS_COLUMN_PORT = 150;
constexpr unsigned IDS_COLUMN_SETTINGS = 151;
constexpr unsigned IDS_COLUMN_STATE = 152;
constexpr unsigned IDS_COLUMN_ADDRESS = 153;
constexpr unsigned IDS_APP_TITLE = 200;
constexpr unsigned IDS_TRAY_FAILED = 201;
constexpr unsigned IDS_LISTEN_FAILED = 202;
constexpr unsigned IDS_COM_OPEN_ERROR = 203;
constexpr unsigned IDS_STATE_FIRST = 204;  // 204 + line state, up to 210
constexpr unsigned IDS_CONFIRM_CHANGE = 211;
constexpr unsigned IDS_CONFIRM_EXIT = 212;
constexpr unsigned IDS_CONFIRM_EXIT_CONNECTED = 213;
constexpr unsigned IDS_FULL_TEXT = 214;
constexpr unsigned IDS_SETTING_SUFFIX = 215;
constexpr unsigned IDS_SELECT_LOG_DIR = 216;
constexpr unsigned IDS_PARITY_FIRST = 300;   // 300 + parity, up to 302
constexpr unsigned IDS_RING_NONE = 310;      // 310 + RING count, up to 313
constexpr unsigned IDS_CONNECT_FIRST = 314;  // 314 + CONNECT mode, up to 316
constexpr unsigned IDS_DSR_KEEP = 320;
constexpr unsigned IDS_DSR_CUT = 321;

// The framework's data-exchange messages (AFX_IDP_*).
#include "platform/windows/afxstrings.h"
