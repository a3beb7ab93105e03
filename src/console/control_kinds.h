// What each control of a dialog is to the console: a button, a question (what can be typed or
// chosen), a text or value shown; the label that names a field, and the order a reader takes.
#pragma once
#include <string>
#include <vector>

#include "console/dialog_model.h"

bool control_is_button(const ControlTemplate& layout);
bool control_is_default_button(const ControlTemplate& layout);
bool control_is_question(const ControlTemplate& layout);
bool control_is_password(const ControlTemplate& layout);
// A multi-line edit: its own line breaks are its lines.
bool control_is_text_panel(const ControlTemplate& layout);

// The label that names a field: a label on the same row, to its left; the nearest one wins.
const ModelControl* control_label(const ModelDialog& dialog, const ControlTemplate& field);
// What a field's question calls it: its label, else a name for its kind.
std::string control_field_name(const ModelDialog& dialog, const ModelControl& control);

// Which controls a reading takes.
using ControlFilter = bool (*)(const ModelDialog& dialog, const ModelControl& control);
// Texts and values the dialog shows (questions and buttons come separately).
bool control_is_shown(const ModelDialog& dialog, const ModelControl& control);
bool control_asks(const ModelDialog& dialog, const ModelControl& control);
// Top to bottom, then left to right: the order a reader takes in the dialog.
std::vector<ModelControl*> controls_in_reading_order(ModelDialog& dialog, ControlFilter wanted);
