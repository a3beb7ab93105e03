// The ten dialog templates: every control in template order with its id, class, full style,
// caption, position and size, in dialog units.
#include "res/dialog_templates.h"

#include <array>
#include <cstddef>

#include "res/dialog_ids.h"

namespace {

constexpr int NO_ID = CONTROL_UNADDRESSED;
using C = ControlClass;

constexpr ControlTemplate control(int id, C control_class, std::uint32_t style, const char* caption,
                                  short x, short y, short width, short height) {
    return ControlTemplate{id, control_class, style, caption, 0, x, y, width, height};
}
constexpr ControlTemplate icon(int icon_id, short x, short y, short width, short height) {
    return ControlTemplate{NO_ID, C::STATIC, STYLE_ICON, nullptr, icon_id, x, y, width, height};
}

constexpr const char* UPLOAD_NOTICE =
    "Please do not unplug the power of your TEV until the Status Light stops blinking";
constexpr const char* MAKER_WEB_ADDRESS = "www.tev.test";

const ControlTemplate warning_controls[] = {
    control(CONTROL_OK, C::BUTTON, STYLE_BUTTON, "Continue", 41, 116, 50, 14),
    control(CONTROL_CANCEL, C::BUTTON, STYLE_DEFAULT_BUTTON, "Cancel", 109, 116, 50, 14),
    control(CONTROL_WARNING_TEXT, C::EDIT, STYLE_TEXT_PANEL_NO_TAB, "", 12, 13, 189, 95),
};

// Dialogs 101 and 305 share their controls but for the icon.
constexpr std::array<ControlTemplate, 9> address_controls(int icon_id) {
    return {{
        control(CONTROL_OK, C::BUTTON, STYLE_DEFAULT_BUTTON, "OK", 26, 126, 50, 14),
        control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 86, 126, 50, 14),
        control(CONTROL_TEXT_PANEL, C::EDIT, STYLE_TEXT_PANEL, "", 13, 6, 139, 16),
        control(CONTROL_ADDRESS_HELP, C::EDIT, STYLE_TEXT_PANEL, "", 13, 42, 148, 56),
        control(CONTROL_IMAGE_VERSION, C::EDIT, STYLE_PLAIN_VALUE, "", 37, 28, 89, 14),
        control(CONTROL_LOCAL_ADDRESS_LIST, C::COMBOBOX, STYLE_DROP_DOWN_LIST, "", 63, 153, 79, 80),
        control(NO_ID, C::STATIC, STYLE_LABEL, "Your IP Address", 9, 156, 52, 8),
        icon(icon_id, 119, 18, 20, 20),
        control(CONTROL_DEVICE_ADDRESS, C::IP_ADDRESS, STYLE_ADDRESS_CONTROL, "IPAddress1", 26, 103,
                109, 15),
    }};
}
constexpr auto address_adapter_controls = address_controls(ICON_ADAPTER);
constexpr auto address_phone_controls = address_controls(ICON_PHONE);

const ControlTemplate password_controls[] = {
    control(CONTROL_OK, C::BUTTON, STYLE_DEFAULT_BUTTON, "OK", 32, 210, 50, 14),
    control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 104, 210, 50, 14),
    control(CONTROL_USER_NAME, C::EDIT, STYLE_INPUT_FIELD, "", 68, 168, 85, 14),
    control(CONTROL_PASSWORD, C::EDIT, STYLE_PASSWORD_FIELD, "", 68, 186, 85, 14),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "User", 18, 170, 44, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Password", 18, 191, 44, 8),
    control(CONTROL_TEXT_PANEL, C::EDIT, STYLE_TEXT_PANEL, "", 15, 9, 165, 152),
};

const ControlTemplate connecting_controls[] = {
    control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 65, 34, 50, 14),
    control(CONTROL_PROGRESS, C::PROGRESS, STYLE_PROGRESS_BAR, "Progress1", 22, 10, 141, 14),
};

const ControlTemplate confirm_controls[] = {
    control(CONTROL_OK, C::BUTTON, STYLE_DEFAULT_BUTTON, "Upgrade", 33, 143, 50, 14),
    control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 87, 143, 50, 14),
    control(CONTROL_SERIAL_NUMBER, C::EDIT, STYLE_VALUE_FIELD, "", 82, 49, 67, 14),
    control(CONTROL_MAC_ADDRESS, C::EDIT, STYLE_VALUE_FIELD, "", 82, 66, 67, 14),
    control(CONTROL_SOFTWARE_VERSION, C::EDIT, STYLE_VALUE_FIELD, "", 82, 84, 67, 14),
    control(CONTROL_HARDWARE_VERSION, C::EDIT, STYLE_VALUE_FIELD, "", 82, 100, 67, 14),
    control(CONTROL_PRODUCT_NAME, C::EDIT, STYLE_VALUE_FIELD, "", 82, 118, 67, 14),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Serial Number", 4, 52, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "MAC Address", 4, 70, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Software Version", 4, 87, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Hardware Version", 4, 103, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Product Name", 4, 121, 72, 8),
    control(CONTROL_TEXT_PANEL, C::EDIT, STYLE_TEXT_PANEL, "", 12, 6, 142, 37),
};

const ControlTemplate confirm_transition_controls[] = {
    control(CONTROL_OK, C::BUTTON, STYLE_DEFAULT_BUTTON, "Upgrade", 42, 179, 50, 14),
    control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 96, 179, 50, 14),
    control(CONTROL_SERIAL_NUMBER, C::EDIT, STYLE_VALUE_FIELD, "", 92, 86, 67, 14),
    control(CONTROL_MAC_ADDRESS, C::EDIT, STYLE_VALUE_FIELD, "", 92, 103, 67, 14),
    control(CONTROL_SOFTWARE_VERSION, C::EDIT, STYLE_VALUE_FIELD, "", 92, 121, 67, 14),
    control(CONTROL_HARDWARE_VERSION, C::EDIT, STYLE_VALUE_FIELD, "", 92, 137, 67, 14),
    control(CONTROL_PRODUCT_NAME, C::EDIT, STYLE_VALUE_FIELD, "", 92, 154, 67, 14),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Serial Number", 14, 89, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "MAC Address", 14, 106, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Software Version", 14, 124, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Hardware Version", 14, 140, 72, 8),
    control(NO_ID, C::STATIC, STYLE_RIGHT_LABEL, "Product Name", 14, 158, 72, 8),
    control(CONTROL_TEXT_PANEL, C::EDIT, STYLE_TEXT_PANEL, "", 23, 7, 142, 77),
};

const ControlTemplate waiting_controls[] = {
    control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 108, 115, 50, 14),
    control(CONTROL_PROGRESS, C::PROGRESS, STYLE_PROGRESS_BAR, "Progress1", 38, 95, 191, 14),
    control(CONTROL_WAITING_TEXT, C::STATIC, STYLE_LABEL, "", 15, 9, 244, 79),
};

const ControlTemplate upload_controls[] = {
    control(CONTROL_CANCEL, C::BUTTON, STYLE_BUTTON, "Cancel", 126, 52, 50, 14),
    control(CONTROL_PROGRESS, C::PROGRESS, STYLE_PROGRESS_BAR, "Progress1", 31, 36, 242, 8),
    control(NO_ID, C::STATIC, STYLE_CENTRED_LABEL, UPLOAD_NOTICE, 86, 12, 137, 22),
};

const ControlTemplate success_controls[] = {
    control(CONTROL_OK, C::BUTTON, STYLE_DEFAULT_BUTTON, "OK", 59, 94, 50, 14),
    control(CONTROL_SOFTWARE_VERSION, C::EDIT, STYLE_CENTRED_VALUE_FIELD, "", 15, 69, 136, 14),
    control(CONTROL_TEXT_PANEL, C::EDIT, STYLE_TEXT_PANEL, "", 29, 9, 111, 33),
    control(NO_ID, C::STATIC, STYLE_LABEL, MAKER_WEB_ADDRESS, 82, 50, 53, 8),
};

template <std::size_t N>
constexpr DialogTemplate dialog(int id, const char* title, short x, short y, short width,
                                short height, const ControlTemplate (&controls)[N]) {
    return DialogTemplate{id, title, DIALOG_STYLE, x, y, width, height, controls, int{N}};
}
template <std::size_t N>
constexpr DialogTemplate dialog(int id, const char* title, short x, short y, short width,
                                short height, const std::array<ControlTemplate, N>& controls) {
    return DialogTemplate{id, title, DIALOG_STYLE, x, y, width, height, controls.data(), int{N}};
}

}  // namespace

const DialogTemplate dialog_templates[DIALOG_TEMPLATE_COUNT] = {
    dialog(DIALOG_WARNING, "TEV-4200 Firmware Upgrade", 0, 0, 204, 143, warning_controls),
    dialog(DIALOG_ADDRESS_ADAPTER, "Enter TEV IP Address", 200, 200, 165, 181,
           address_adapter_controls),
    dialog(DIALOG_ADDRESS_PHONE, "Dialog", 0, 0, 164, 178, address_phone_controls),
    dialog(DIALOG_PASSWORD, "Enter Password Information", 200, 200, 191, 236, password_controls),
    dialog(DIALOG_CONNECTING, "Connecting with TEV", 200, 200, 186, 55, connecting_controls),
    dialog(DIALOG_CONFIRM, "Confirm Upgrade", 200, 200, 172, 166, confirm_controls),
    dialog(DIALOG_CONFIRM_TRANSITION, "Confirm Upgrade", 0, 0, 186, 198,
           confirm_transition_controls),
    dialog(DIALOG_WAITING, "Waiting For Firmware Download Request From TEV", 0, 0, 270, 141,
           waiting_controls),
    dialog(DIALOG_UPLOAD, "Uploading Firmware To TEV", 0, 0, 303, 77, upload_controls),
    dialog(DIALOG_SUCCESS, "TEV Upgrade Successful!", 0, 0, 171, 126, success_controls),
};

const DialogTemplate* find_dialog_template(int id) {
    for (const DialogTemplate& dialog : dialog_templates) {
        if (dialog.id == id) return &dialog;
    }
    return nullptr;
}

const ControlTemplate* find_control_template(const DialogTemplate& dialog, int id) {
    for (int i = 0; i < dialog.control_count; ++i) {
        if (dialog.controls[i].id == id) return &dialog.controls[i];
    }
    return nullptr;
}

const char* control_class_name(ControlClass control_class) {
    switch (control_class) {
        case ControlClass::BUTTON: return "Button";
        case ControlClass::EDIT: return "Edit";
        case ControlClass::STATIC: return "Static";
        case ControlClass::COMBOBOX: return "ComboBox";
        case ControlClass::PROGRESS: return "msctls_progress32";
        case ControlClass::IP_ADDRESS: return "SysIPAddress32";
    }
    return "";
}
