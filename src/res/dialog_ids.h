// Resource numbers of the dialogs and icons, and the identifiers of their controls.
#pragma once

constexpr int DIALOG_ADDRESS_ADAPTER = 101;
constexpr int DIALOG_CONFIRM = 103;
constexpr int DIALOG_PASSWORD = 104;
constexpr int DIALOG_CONNECTING = 105;
constexpr int DIALOG_UPLOAD = 110;
constexpr int DIALOG_SUCCESS = 111;
constexpr int DIALOG_WAITING = 114;
constexpr int DIALOG_WARNING = 139;
constexpr int DIALOG_CONFIRM_TRANSITION = 304;
constexpr int DIALOG_ADDRESS_PHONE = 305;

constexpr int ICON_ADAPTER = 106;
constexpr int ICON_PHONE = 286;

constexpr int CONTROL_OK = 1;
constexpr int CONTROL_CANCEL = 2;
constexpr int CONTROL_UNADDRESSED = -1;
constexpr int CONTROL_DEVICE_ADDRESS = 1000;
constexpr int CONTROL_SERIAL_NUMBER = 1002;
constexpr int CONTROL_MAC_ADDRESS = 1003;
constexpr int CONTROL_USER_NAME = 1003;
constexpr int CONTROL_SOFTWARE_VERSION = 1004;
constexpr int CONTROL_HARDWARE_VERSION = 1005;
constexpr int CONTROL_PASSWORD = 1005;
constexpr int CONTROL_PRODUCT_NAME = 1006;
constexpr int CONTROL_TEXT_PANEL = 1007;
constexpr int CONTROL_ADDRESS_HELP = 1008;
constexpr int CONTROL_PROGRESS = 1010;
constexpr int CONTROL_IMAGE_VERSION = 1015;
constexpr int CONTROL_LOCAL_ADDRESS_LIST = 1017;
constexpr int CONTROL_WARNING_TEXT = 1021;
constexpr int CONTROL_WAITING_TEXT = 1022;

// The list window over several devices (built in code, not from a template); Close is its
// Cancel.
constexpr int CONTROL_LIST_HEAD = 1100;
constexpr int CONTROL_LIST_ROWS = 1101;
constexpr int CONTROL_LIST_INCLUDE_CURRENT = 1102;
constexpr int CONTROL_LIST_UPGRADE = 1103;
constexpr int CONTROL_LIST_STOP = 1104;
constexpr int CONTROL_LIST_RETRY = 1105;
constexpr int CONTROL_LIST_SAVE = 1106;
constexpr int CONTROL_LIST_DETAIL = 1107;  // the selected row's whole state and reason
constexpr int CONTROL_LIST_CLOSE = CONTROL_CANCEL;
