// The in-memory dialogs of the Linux build. Each dialog is made from the template table and keeps
// what a window would: title, every control's text, list, selection and progress, the focus, the
// end code and a rectangle on a notional screen. With the console front end it is platform/dialogs.h
// on Linux: the model answers every query and change of a dialog's state, the front end opens,
// shows and drives the dialogs (console_dialogs.cpp). Tests drive the model directly.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "res/dialog_templates.h"

struct ModelControl {
    const ControlTemplate* layout;
    std::string text;
    std::vector<std::string> entries;  // drop-down lists
    int selection = -1;
    bool chosen = false;  // an entry picked by an answer, not the dialog's own default at opening
    int progress_minimum = 0;
    int progress_maximum = 100;
    int progress_position = 0;
    int progress_range_serial = 0;  // counts range changes, so a viewer can tell a new phase
};

// What the console has shown of a dialog, so that it prints only what changed.
struct ModelDialogView {
    bool cancel_hint_shown = false;
    std::vector<std::string> texts;
    std::string title;
    int progress_tenth = -1;
    int progress_percent = -1;
    int progress_range_serial = -1;
    std::int64_t drawn_at_ms = 0;
    std::string progress_shown;  // title and percentage of the last progress line or bar shown
};

struct ModelDialog {
    const DialogTemplate* layout;
    DialogProc procedure;
    std::string title;
    std::vector<ModelControl> controls;  // template order
    int focus_id = 0;                    // the control with the focus, 0 for none
    bool visible = false;
    bool ended = false;
    int end_code = 0;
    ScreenRect rect{};
    ModelDialogView view;
};

// Makes a dialog from its template, registers it and sends it the init message; nullptr when no
// template has that number. Controls start with their captions as text, except the address
// control, which holds the address typed into it and so opens empty. Where the procedure leaves the
// focus to the dialog manager it goes to the first control with a tab stop.
ModelDialog* model_dialog_create(int template_id, DialogProc procedure);
// The live dialog behind a handle, or nullptr once it is destroyed (or never was).
ModelDialog* model_dialog_find(WindowHandle dialog);
// Unregisters and frees a dialog.
void model_dialog_remove(ModelDialog* dialog);
// The first control of that id, or nullptr.
ModelControl* model_control(ModelDialog* dialog, int id);
// Sends the command a click on that control would; the procedure's answer. OK first takes the
// routed default below.
std::intptr_t model_send_command(WindowHandle dialog, int id);
// The default of a local-address list beside a device address field: unless an answer has picked
// an entry, selects the one the system would send from to reach the address in the field, or the
// first entry when that address is not listed. Nothing changes while the field holds no address.
// The console calls it as the list question comes; OK calls it for answers that skip the list.
void model_select_routed_entry(ModelDialog& dialog);

// Told as a progress bar is about to take a new range, which starts a new phase of its dialog. The
// console front end hands its function in, so that the model calls no front end by name.
using ProgressPhaseObserver = void (*)(ModelDialog& dialog, const ModelControl& bar);
void model_observe_progress_phases(ProgressPhaseObserver observer);

// The notional screen the dialogs are centred on.
void model_set_screen_size(int width, int height);
// A template's outer size in pixels: dialog units of the 8-point font, plus frame and caption.
void model_dialog_pixel_size(const DialogTemplate& layout, int* width, int* height);
