// The in-memory dialogs of the Linux build: creation from the template table, and every query and
// change the dialog interface offers on a dialog's state.
#include "console/dialog_model.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/net_address.h"
#include "platform/posix/ipv4_text.h"
#include "res/dialog_ids.h"

namespace {

// Dialogs are made and destroyed on several threads; each is used only by its own.
std::mutex registry_mutex;
std::vector<ModelDialog*> registry;

std::atomic<ProgressPhaseObserver> phase_observer{nullptr};

int screen_width = 640;
int screen_height = 480;

// Dialog base units of an 8-point "MS Sans Serif" at 96 dots an inch, and the frame and caption
// a modal frame adds around the client area.
constexpr int BASE_UNIT_X = 6;
constexpr int BASE_UNIT_Y = 13;
constexpr int FRAME_PIXELS = 3;
constexpr int CAPTION_PIXELS = 18;

int pixels_x(int units) { return units * BASE_UNIT_X / 4; }
int pixels_y(int units) { return units * BASE_UNIT_Y / 8; }

int first_tab_stop(const ModelDialog& dialog) {
    for (const ModelControl& control : dialog.controls) {
        if (control.layout->style & STYLE_BIT_TABSTOP) return control.layout->id;
    }
    return 0;
}

}  // namespace

void model_dialog_pixel_size(const DialogTemplate& layout, int* width, int* height) {
    *width = pixels_x(layout.width) + 2 * FRAME_PIXELS;
    *height = pixels_y(layout.height) + 2 * FRAME_PIXELS + CAPTION_PIXELS;
}

void model_observe_progress_phases(ProgressPhaseObserver observer) {
    phase_observer.store(observer);
}

void model_set_screen_size(int width, int height) {
    screen_width = width;
    screen_height = height;
}

ModelDialog* model_dialog_create(int template_id, DialogProc procedure) {
    const DialogTemplate* layout = find_dialog_template(template_id);
    if (layout == nullptr) return nullptr;
    auto* dialog = new ModelDialog;
    dialog->layout = layout;
    dialog->procedure = procedure;
    dialog->title = layout->title;
    for (int i = 0; i < layout->control_count; ++i) {
        ModelControl control;
        control.layout = &layout->controls[i];
        bool holds_caption = control.layout->caption != nullptr &&
                             control.layout->control_class != ControlClass::IP_ADDRESS;
        if (holds_caption) control.text = control.layout->caption;
        dialog->controls.push_back(control);
    }
    int width = 0;
    int height = 0;
    model_dialog_pixel_size(*layout, &width, &height);
    dialog->rect.left = pixels_x(layout->x);
    dialog->rect.top = pixels_y(layout->y);
    dialog->rect.right = dialog->rect.left + width;
    dialog->rect.bottom = dialog->rect.top + height;
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        registry.push_back(dialog);
    }
    bool focus_left_to_us = procedure(dialog, DIALOG_MESSAGE_INIT, 0, 0) != 0;
    ModelDialog* live = model_dialog_find(dialog);
    if (live == nullptr) return nullptr;
    if (focus_left_to_us) live->focus_id = first_tab_stop(*live);
    // What the procedure selected as it opened is its default, not an answer.
    for (ModelControl& control : live->controls) control.chosen = false;
    return live;
}

ModelDialog* model_dialog_find(WindowHandle dialog) {
    std::lock_guard<std::mutex> lock(registry_mutex);
    auto found = std::find(registry.begin(), registry.end(), static_cast<ModelDialog*>(dialog));
    return found == registry.end() ? nullptr : *found;
}

void model_dialog_remove(ModelDialog* dialog) {
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        auto found = std::find(registry.begin(), registry.end(), dialog);
        if (found == registry.end()) return;
        registry.erase(found);
    }
    delete dialog;
}

ModelControl* model_control(ModelDialog* dialog, int id) {
    if (dialog == nullptr) return nullptr;
    for (ModelControl& control : dialog->controls) {
        if (control.layout->id == id) return &control;
    }
    return nullptr;
}

void model_select_routed_entry(ModelDialog& dialog) {
    ModelControl* field = nullptr;
    ModelControl* list = nullptr;
    for (ModelControl& control : dialog.controls) {
        if (control.layout->control_class == ControlClass::IP_ADDRESS) field = &control;
        if (control.layout->id == CONTROL_LOCAL_ADDRESS_LIST) list = &control;
    }
    if (field == nullptr || list == nullptr || list->chosen || list->entries.empty()) return;
    std::uint32_t device = 0;
    if (!ipv4_text_read(field->text.c_str(), &device) || device == 0) return;
    std::uint32_t route = route_source_address(device);
    char source[16];
    std::snprintf(source, sizeof source, "%u.%u.%u.%u", route >> 24, (route >> 16) & 0xFF,
                  (route >> 8) & 0xFF, route & 0xFF);
    auto listed = std::find(list->entries.begin(), list->entries.end(), source);
    list->selection = listed == list->entries.end()
                          ? 0
                          : static_cast<int>(listed - list->entries.begin());
}

std::intptr_t model_send_command(WindowHandle dialog, int id) {
    ModelDialog* live = model_dialog_find(dialog);
    if (live == nullptr) return 0;
    if (id == CONTROL_OK) model_select_routed_entry(*live);
    return live->procedure(live, DIALOG_MESSAGE_COMMAND, static_cast<std::uint16_t>(id), 0);
}

// The dialog interface on the model.

bool window_class_register(const char*, ModuleHandle, ClassWindowProc) { return true; }

void dialogs_init_common_controls() {}

void dialog_end(WindowHandle dialog, int end_code) {
    ModelDialog* live = model_dialog_find(dialog);
    if (live == nullptr) return;
    live->ended = true;
    live->end_code = end_code;
}

void dialog_set_title(WindowHandle dialog, const char* text) {
    ModelDialog* live = model_dialog_find(dialog);
    if (live != nullptr) live->title = text;
}

void dialog_set_item_text(WindowHandle dialog, int control, const char* text) {
    ModelControl* item = model_control(model_dialog_find(dialog), control);
    if (item != nullptr) item->text = text;
}

void dialog_get_item_text(WindowHandle dialog, int control, char* text, int size) {
    if (size <= 0) return;
    text[0] = 0;
    ModelControl* item = model_control(model_dialog_find(dialog), control);
    if (item == nullptr) return;
    // A list answers with its selected entry, as a drop-down list's window text does.
    const std::string* value = &item->text;
    if (item->layout->control_class == ControlClass::COMBOBOX) {
        static const std::string none;
        value = item->selection >= 0 ? &item->entries[static_cast<std::size_t>(item->selection)]
                                     : &none;
    }
    std::size_t length = std::min(value->size(), static_cast<std::size_t>(size - 1));
    std::memcpy(text, value->data(), length);
    text[length] = 0;
}

void dialog_focus_item(WindowHandle dialog, int control) {
    ModelDialog* live = model_dialog_find(dialog);
    if (live != nullptr && model_control(live, control) != nullptr) live->focus_id = control;
}

void dialog_list_add(WindowHandle dialog, int control, const char* text) {
    ModelControl* item = model_control(model_dialog_find(dialog), control);
    if (item != nullptr) item->entries.push_back(text);
}

void dialog_list_select(WindowHandle dialog, int control, int index) {
    ModelControl* item = model_control(model_dialog_find(dialog), control);
    if (item == nullptr) return;
    // Like CB_SETCURSEL: an index outside the list clears the selection.
    bool inside = index >= 0 && static_cast<std::size_t>(index) < item->entries.size();
    item->selection = inside ? index : -1;
    item->chosen = true;
}

int dialog_list_selection(WindowHandle dialog, int control) {
    ModelControl* item = model_control(model_dialog_find(dialog), control);
    return item == nullptr ? -1 : item->selection;
}

void dialog_progress_range(WindowHandle dialog, int control, int minimum, int maximum) {
    ModelDialog* live = model_dialog_find(dialog);
    ModelControl* item = model_control(live, control);
    if (item == nullptr) return;
    ProgressPhaseObserver observer = phase_observer.load();
    if (observer != nullptr) observer(*live, *item);
    item->progress_minimum = minimum;
    item->progress_maximum = maximum;
    item->progress_position =
        std::clamp(item->progress_position, minimum, std::max(minimum, maximum));
    ++item->progress_range_serial;
}

void dialog_progress_position(WindowHandle dialog, int control, int position) {
    ModelControl* item = model_control(model_dialog_find(dialog), control);
    if (item == nullptr) return;
    // A progress bar keeps its position inside its range.
    item->progress_position = std::clamp(position, item->progress_minimum,
                                         std::max(item->progress_minimum, item->progress_maximum));
}

bool window_screen_rect(WindowHandle window, ScreenRect* rect) {
    ModelDialog* live = model_dialog_find(window);
    if (live == nullptr) return false;
    *rect = live->rect;
    return true;
}

void screen_size(int* width, int* height) {
    *width = screen_width;
    *height = screen_height;
}

void window_move_to_top(WindowHandle window, int x, int y) {
    ModelDialog* live = model_dialog_find(window);
    if (live == nullptr) return;
    int width = live->rect.right - live->rect.left;
    int height = live->rect.bottom - live->rect.top;
    live->rect = ScreenRect{x, y, x + width, y + height};
}
