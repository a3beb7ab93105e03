// Echo of the answers: a terminal shows what is typed itself; lines from a script and answers
// from the options are printed as a terminal would have shown them typed.
#include "console/answer_echo.h"

#include "console/console_output.h"
#include "console/control_kinds.h"

void echo_typed_answer(InputResult result, const std::string& answer, bool hidden) {
    bool typed = result == InputResult::LINE;
    if (typed && console_input_is_terminal()) {
        console_say(hidden ? "\n" : "");  // the terminal echoed all but a hidden line's break
    } else {
        console_say(typed && !hidden ? answer + "\n" : std::string("\n"));
    }
}

void echo_given_answers(ModelDialog& dialog, int command) {
    std::string lines;
    for (ModelControl* input : controls_in_reading_order(dialog, control_asks)) {
        const ModelControl& control = *input;
        std::string value = control.text;
        if (control.layout->control_class == ControlClass::COMBOBOX) {
            value = control.selection >= 0
                        ? control.entries[static_cast<std::size_t>(control.selection)]
                        : std::string();
        }
        if (control_is_password(*control.layout)) value.clear();
        lines += control_field_name(dialog, control) + ": " + value + "\n";
    }
    std::string names;
    std::string preset;
    std::string pressed;
    for (const ModelControl& control : dialog.controls) {
        if (!control_is_button(*control.layout)) continue;
        names += (names.empty() ? "" : "/") + control.text;
        if (preset.empty() && control_is_default_button(*control.layout)) preset = control.text;
        if (control.layout->id == command) pressed = control.text;
    }
    console_say(lines + names + " [" + preset + "]: " + pressed + "\n");
}

void echo_typed_cancel() {
    if (!console_input_is_terminal()) console_say("cancel\n");
}
