// The ten dialog templates as one table: the single source from which both builds make their
// dialogs (real windows on Windows, the in-memory model behind the console on Linux).
#pragma once
#include <cstdint>

// Window classes of the controls. The first four are the system's predefined classes, which a
// compiled template names by ordinal; the last two come from the common controls.
enum class ControlClass { BUTTON, EDIT, STATIC, COMBOBOX, PROGRESS, IP_ADDRESS };

// Full window styles of the control kinds the templates use.
constexpr std::uint32_t STYLE_DEFAULT_BUTTON = 0x50010001;
constexpr std::uint32_t STYLE_BUTTON = 0x50010000;
constexpr std::uint32_t STYLE_TEXT_PANEL = 0x50010884;
constexpr std::uint32_t STYLE_TEXT_PANEL_NO_TAB = 0x50000884;
constexpr std::uint32_t STYLE_PLAIN_VALUE = 0x50010880;
constexpr std::uint32_t STYLE_VALUE_FIELD = 0x50810880;
constexpr std::uint32_t STYLE_CENTRED_VALUE_FIELD = 0x50810881;
constexpr std::uint32_t STYLE_INPUT_FIELD = 0x50810080;
constexpr std::uint32_t STYLE_PASSWORD_FIELD = 0x508100A0;
constexpr std::uint32_t STYLE_DROP_DOWN_LIST = 0x50210003;
constexpr std::uint32_t STYLE_LABEL = 0x50020000;
constexpr std::uint32_t STYLE_RIGHT_LABEL = 0x50020002;
constexpr std::uint32_t STYLE_CENTRED_LABEL = 0x50020001;
constexpr std::uint32_t STYLE_ICON = 0x50000003;
constexpr std::uint32_t STYLE_PROGRESS_BAR = 0x50800000;
constexpr std::uint32_t STYLE_ADDRESS_CONTROL = 0x50010000;

// Style bits the front ends look at.
constexpr std::uint32_t STYLE_BIT_TABSTOP = 0x00010000;
constexpr std::uint32_t STYLE_BIT_READONLY = 0x0800;   // ES_READONLY
constexpr std::uint32_t STYLE_BIT_PASSWORD = 0x0020;   // ES_PASSWORD
constexpr std::uint32_t STYLE_BIT_MULTILINE = 0x0004;  // ES_MULTILINE
constexpr std::uint32_t STYLE_BUTTON_TYPE_MASK = 0x000F;
constexpr std::uint32_t STYLE_BIT_DEFAULT_BUTTON = 0x0001;  // BS_DEFPUSHBUTTON
constexpr std::uint32_t STYLE_STATIC_TYPE_MASK = 0x001F;
constexpr std::uint32_t STYLE_STATIC_ICON = 0x0003;  // SS_ICON

// Every template: WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, DS_SETFONT; no extended style.
constexpr std::uint32_t DIALOG_STYLE = 0x80C800C0;
constexpr const char* DIALOG_FONT = "MS Sans Serif";
constexpr int DIALOG_FONT_POINTS = 8;
constexpr int DIALOG_LANGUAGE = 1033;  // English (United States)

struct ControlTemplate {
    int id;  // -1 for controls no code addresses
    ControlClass control_class;
    std::uint32_t style;
    const char* caption;  // "" when empty; nullptr when the caption names an icon
    int icon;             // the icon resource a caption names, else 0
    short x;
    short y;
    short width;
    short height;
};

struct DialogTemplate {
    int id;
    const char* title;
    std::uint32_t style;
    short x;
    short y;
    short width;
    short height;
    const ControlTemplate* controls;  // template order, which is also the tab order
    int control_count;
};

constexpr int DIALOG_TEMPLATE_COUNT = 10;
extern const DialogTemplate dialog_templates[DIALOG_TEMPLATE_COUNT];

// The template of that dialog number, or nullptr.
const DialogTemplate* find_dialog_template(int id);
// The control of that id in a template, or nullptr (the first one for -1).
const ControlTemplate* find_control_template(const DialogTemplate& dialog, int id);
// The class name a window of that class reports ("Button", "Edit", ..., "SysIPAddress32").
const char* control_class_name(ControlClass control_class);
