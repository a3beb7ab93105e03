// The questions: one line for each field in reading order, then the buttons. Enter alone takes
// what the dialog holds already (the pre-filled text, the selected entry, the default button);
// the end of input or Ctrl-C closes the dialog as its close box would.
#include "console/dialog_questions.h"

#include <atomic>
#include <cctype>
#include <string>
#include <vector>

#include "console/answer_echo.h"
#include "console/console_input.h"
#include "console/console_output.h"
#include "console/control_kinds.h"
#include "console/dialog_model.h"
#include "console/dialog_printing.h"
#include "res/dialog_ids.h"

namespace {

std::atomic<ConsoleAddressCheck> address_check{nullptr};
std::atomic<DialogAnswers*> answers{nullptr};

std::string trimmed(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool same_word(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Prints the question and waits for its answer.
InputResult ask(const std::string& question, std::string* answer, bool hidden) {
    console_say(question);
    InputResult result = console_read_line(answer, hidden);
    echo_typed_answer(result, *answer, hidden);
    return result;
}

// Why a typed address is refused at once (nullptr: it is taken), for the address control.
const char* refusal(const ModelControl& control, const std::string& answer) {
    ConsoleAddressCheck check = address_check.load();
    if (check == nullptr || control.layout->control_class != ControlClass::IP_ADDRESS) return nullptr;
    return check(answer.c_str());
}

InputResult ask_text(const ModelDialog& dialog, ModelControl& control) {
    bool hidden = control_is_password(*control.layout);
    std::string question = control_field_name(dialog, control);
    if (!hidden && !control.text.empty()) question += " [" + control.text + "]";
    for (;;) {
        std::string answer;
        InputResult result = ask(question + ": ", &answer, hidden);
        if (result != InputResult::LINE || answer.empty()) return result;
        const char* why = refusal(control, answer);
        if (why == nullptr) {
            control.text = answer;
            return result;
        }
        console_say("'" + answer.substr(0, 40) + "' is not an address: " + why +
                    ". Type four numbers from 0 to 255 with full stops between them, like 192.168.0.20.\n");
    }
}

// An entry by its number (from 1) or by its text.
int list_index(const ModelControl& control, const std::string& answer) {
    for (std::size_t i = 0; i < control.entries.size(); ++i) {
        if (answer == control.entries[i] || answer == std::to_string(i + 1))
            return static_cast<int>(i);
    }
    return -1;
}

InputResult ask_list(ModelDialog& dialog, ModelControl& control) {
    model_select_routed_entry(dialog);
    std::string choices;
    for (std::size_t i = 0; i < control.entries.size(); ++i) {
        choices += (i == 0 ? "" : ", ") + std::to_string(i + 1) + ": " + control.entries[i];
    }
    std::string question =
        control_field_name(dialog, control) + " (" + (choices.empty() ? "none" : choices) + ")";
    if (control.selection >= 0) question += " [" + std::to_string(control.selection + 1) + "]";
    question += ": ";
    for (;;) {
        std::string answer;
        InputResult result = ask(question, &answer, false);
        answer = trimmed(answer);
        if (result != InputResult::LINE || answer.empty()) return result;
        int index = list_index(control, answer);
        if (index >= 0) {
            control.selection = index;
            control.chosen = true;
            return result;
        }
        console_say(control.entries.empty()
                        ? "There is nothing to choose; press Enter.\n"
                        : "Type a number from the list, or one of its entries.\n");
    }
}

InputResult ask_inputs(ModelDialog& dialog) {
    for (ModelControl* input : controls_in_reading_order(dialog, control_asks)) {
        ModelControl& control = *input;
        InputResult result = control.layout->control_class == ControlClass::COMBOBOX
                                 ? ask_list(dialog, control)
                                 : ask_text(dialog, control);
        if (result != InputResult::LINE) return result;
    }
    return InputResult::LINE;
}

// The button an answer names: its whole caption, or the start of exactly one caption (so that
// a script can answer "c" for Cancel where a whole "cancel" would be taken by a progress dialog
// still running before this question).
const ModelControl* named_button(const std::vector<const ModelControl*>& buttons,
                                 const std::string& answer) {
    const ModelControl* by_start = nullptr;
    int starts = 0;
    for (const ModelControl* button : buttons) {
        if (same_word(answer, button->text)) return button;
        if (answer.size() < button->text.size() &&
            same_word(answer, button->text.substr(0, answer.size()))) {
            by_start = button;
            ++starts;
        }
    }
    return starts == 1 ? by_start : nullptr;
}

InputResult ask_button(const ModelDialog& dialog, int* command) {
    std::vector<const ModelControl*> buttons;
    const ModelControl* preset = nullptr;
    for (const ModelControl& control : dialog.controls) {
        if (!control_is_button(*control.layout)) continue;
        buttons.push_back(&control);
        if (control_is_default_button(*control.layout) && preset == nullptr) preset = &control;
    }
    if (buttons.empty()) return InputResult::END;
    if (preset == nullptr) preset = buttons.front();
    std::string names;
    for (const ModelControl* button : buttons) names += (names.empty() ? "" : "/") + button->text;
    std::string question = names + " [" + preset->text + "]: ";
    for (;;) {
        std::string answer;
        InputResult result = ask(question, &answer, false);
        if (result != InputResult::LINE) return result;
        answer = trimmed(answer);
        if (answer.empty()) {
            *command = preset->layout->id;
            return result;
        }
        const ModelControl* chosen = named_button(buttons, answer);
        if (chosen != nullptr) {
            *command = chosen->layout->id;
            return result;
        }
        console_say("Type one of " + names + ", or press Enter for " + preset->text + ".\n");
    }
}

// The close box: command 2, and a dialog that does not end on it is closed anyway.
int close_dialog(WindowHandle handle) {
    model_send_command(handle, CONTROL_CANCEL);
    ModelDialog* live = model_dialog_find(handle);
    if (live == nullptr) return 0;
    if (!live->ended) dialog_end(handle, 0);
    return live->end_code;
}

}  // namespace

void take_answers(WindowHandle handle, int template_id) {
    DialogAnswers* source = answers.load();
    if (source == nullptr) return;
    for (int presses = 0;; ++presses) {
        ModelDialog* dialog = model_dialog_find(handle);
        if (dialog == nullptr || dialog->ended) return;
        int command = source->answer_dialog(handle, template_id, presses);
        dialog = model_dialog_find(handle);
        if (command == 0 || dialog == nullptr) return;
        echo_given_answers(*dialog, command);
        model_send_command(handle, command);
    }
}

int run_questions(WindowHandle handle) {
    for (;;) {
        ModelDialog* dialog = model_dialog_find(handle);
        if (dialog == nullptr) return 0;
        if (dialog->ended) return dialog->end_code;
        int command = 0;
        InputResult result = ask_inputs(*dialog);
        if (result == InputResult::LINE) result = ask_button(*dialog, &command);
        if (result != InputResult::LINE) return close_dialog(handle);
        model_send_command(handle, command);
    }
}

int ask_message_box(const char* text, const char* title) {
    console_input_prepare();
    print_message_box(text, title);
    DialogAnswers* source = answers.load();
    if (source != nullptr && source->unattended()) {
        console_say("OK [OK]: OK\n");
        return MESSAGE_BOX_OK;
    }
    std::string answer;
    ask("OK [OK]: ", &answer, false);
    return MESSAGE_BOX_OK;
}

void console_address_check_use(ConsoleAddressCheck check) { address_check.store(check); }

void dialogs_use_answers(DialogAnswers* source) { answers.store(source); }
