// What each control of a dialog is to the console, read from its template: its class, its style
// bits and where it stands.
#include "console/control_kinds.h"

#include <algorithm>

namespace {

// A drop-down list's template height is that of the opened list; closed it is one line high.
constexpr int CLOSED_LIST_HEIGHT = 14;

bool is_label(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::STATIC &&
           (layout.style & STYLE_STATIC_TYPE_MASK) != STYLE_STATIC_ICON;
}

bool is_field(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::EDIT ||
           layout.control_class == ControlClass::COMBOBOX ||
           layout.control_class == ControlClass::IP_ADDRESS;
}

int closed_height(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::COMBOBOX
               ? std::min<int>(layout.height, CLOSED_LIST_HEIGHT)
               : layout.height;
}

bool names_a_field(const ModelDialog& dialog, const ModelControl& label) {
    for (const ModelControl& control : dialog.controls) {
        if (is_field(*control.layout) && control_label(dialog, *control.layout) == &label) return true;
    }
    return false;
}

}  // namespace

bool control_is_button(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::BUTTON;
}

bool control_is_default_button(const ControlTemplate& layout) {
    return (layout.style & STYLE_BUTTON_TYPE_MASK) == STYLE_BIT_DEFAULT_BUTTON;
}

bool control_is_question(const ControlTemplate& layout) {
    switch (layout.control_class) {
        case ControlClass::IP_ADDRESS:
        case ControlClass::COMBOBOX: return true;
        case ControlClass::EDIT: return (layout.style & STYLE_BIT_READONLY) == 0;
        default: return false;
    }
}

bool control_is_password(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::EDIT && (layout.style & STYLE_BIT_PASSWORD) != 0;
}

bool control_is_text_panel(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::EDIT && (layout.style & STYLE_BIT_MULTILINE) != 0;
}

const ModelControl* control_label(const ModelDialog& dialog, const ControlTemplate& field) {
    const ModelControl* best = nullptr;
    for (const ModelControl& control : dialog.controls) {
        const ControlTemplate& label = *control.layout;
        if (!is_label(label) || label.x + label.width > field.x + 2) continue;
        bool same_row =
            label.y < field.y + closed_height(field) && field.y < label.y + label.height;
        if (same_row && (best == nullptr || label.x > best->layout->x)) best = &control;
    }
    return best;
}

std::string control_field_name(const ModelDialog& dialog, const ModelControl& control) {
    const ModelControl* label = control_label(dialog, *control.layout);
    if (label != nullptr) return label->text;
    return control.layout->control_class == ControlClass::IP_ADDRESS ? "TEV IP Address" : "Value";
}

bool control_is_shown(const ModelDialog& dialog, const ModelControl& control) {
    const ControlTemplate& layout = *control.layout;
    if (layout.control_class == ControlClass::EDIT) return !control_is_question(layout);
    return is_label(layout) && !names_a_field(dialog, control);
}

bool control_asks(const ModelDialog&, const ModelControl& control) {
    return control_is_question(*control.layout);
}

std::vector<ModelControl*> controls_in_reading_order(ModelDialog& dialog, ControlFilter wanted) {
    std::vector<ModelControl*> found;
    for (ModelControl& control : dialog.controls) {
        if (wanted(dialog, control)) found.push_back(&control);
    }
    std::stable_sort(found.begin(), found.end(), [](const ModelControl* a, const ModelControl* b) {
        if (a->layout->y != b->layout->y) return a->layout->y < b->layout->y;
        return a->layout->x < b->layout->x;
    });
    return found;
}
