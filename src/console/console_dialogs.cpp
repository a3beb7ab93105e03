// The console front end. A dialog is printed when it opens: its title, then its texts and values
// from top to bottom, then the questions for what can be typed or chosen, then its buttons. Enter
// alone takes what the dialog holds already (the default button, the pre-filled text, the
// selected entry); the end of input presses Cancel. Modeless dialogs print their progress, and
// "cancel" or Ctrl-C presses their Cancel.
#include "console/console_dialogs.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "console/console_input.h"
#include "console/dialog_model.h"
#include "platform/posix/terminal.h"
#include "res/dialog_ids.h"

namespace {

constexpr int WRAP_COLUMNS = 76;
constexpr int BAR_CELLS = 20;
constexpr int BAR_CELLS_MIN = 10;
constexpr int BAR_LINE_COLUMNS = 80;  // the redrawn line fits an 80-column terminal
constexpr std::int64_t REDRAW_INTERVAL_MS = 100;
// A drop-down list's template height is that of the opened list; closed it is one line high.
constexpr int CLOSED_LIST_HEIGHT = 14;

std::mutex output_mutex;
std::atomic<int> refused_template{0};  // a test's dialog that cannot be created
std::atomic<ConsoleAddressCheck> address_check{nullptr};
std::FILE* output = stdout;  // nullptr: headless, nothing is printed
std::atomic<DialogAnswers*> answers{nullptr};
bool bar_open = false;  // a redrawn progress line still waits for its line break

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool output_is_terminal() { return terminal_stream_is(output); }

// Called with the output mutex held before anything else is printed.
void end_bar_line() {
    if (!bar_open) return;
    std::fputc('\n', output);
    bar_open = false;
}

// --- What kind of control is what ---

bool is_button(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::BUTTON;
}

bool is_input(const ControlTemplate& layout) {
    switch (layout.control_class) {
        case ControlClass::IP_ADDRESS:
        case ControlClass::COMBOBOX: return true;
        case ControlClass::EDIT: return (layout.style & STYLE_BIT_READONLY) == 0;
        default: return false;
    }
}

bool is_label(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::STATIC &&
           (layout.style & STYLE_STATIC_TYPE_MASK) != STYLE_STATIC_ICON;
}

bool is_field(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::EDIT ||
           layout.control_class == ControlClass::COMBOBOX ||
           layout.control_class == ControlClass::IP_ADDRESS;
}

bool is_text_panel(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::EDIT && (layout.style & STYLE_BIT_MULTILINE) != 0;
}

bool is_password(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::EDIT && (layout.style & STYLE_BIT_PASSWORD) != 0;
}

int closed_height(const ControlTemplate& layout) {
    return layout.control_class == ControlClass::COMBOBOX
               ? std::min<int>(layout.height, CLOSED_LIST_HEIGHT)
               : layout.height;
}

// The label that names a field: a label on the same row, to its left; the nearest one wins.
const ModelControl* label_of(const ModelDialog& dialog, const ControlTemplate& field) {
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

bool names_a_field(const ModelDialog& dialog, const ModelControl& label) {
    for (const ModelControl& control : dialog.controls) {
        if (is_field(*control.layout) && label_of(dialog, *control.layout) == &label) return true;
    }
    return false;
}

// Texts and values the dialog shows (questions and buttons come separately).
bool is_shown(const ModelDialog& dialog, const ModelControl& control) {
    const ControlTemplate& layout = *control.layout;
    if (layout.control_class == ControlClass::EDIT) return !is_input(layout);
    return is_label(layout) && !names_a_field(dialog, control);
}

// Top to bottom, then left to right: the order a reader takes in the dialog.
std::vector<ModelControl*> reading_order(ModelDialog& dialog,
                                         bool (*wanted)(const ModelDialog&, const ModelControl&)) {
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

bool is_input_control(const ModelDialog&, const ModelControl& control) {
    return is_input(*control.layout);
}

// --- Printing ---

// A text panel: its own CR LF breaks are its lines.
void print_lines(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            std::fprintf(output, "%s\n", line.c_str());
            line.clear();
        } else {
            line += c;
        }
    }
    std::fprintf(output, "%s\n", line.c_str());
}

// A label wraps at word boundaries, as the window does.
void print_wrapped(const std::string& text) {
    std::string paragraph;
    auto flush_paragraph = [&paragraph] {
        std::string line;
        std::size_t start = 0;
        while (start <= paragraph.size()) {
            std::size_t end = paragraph.find(' ', start);
            if (end == std::string::npos) end = paragraph.size();
            std::string word = paragraph.substr(start, end - start);
            if (!line.empty() && line.size() + 1 + word.size() > WRAP_COLUMNS) {
                std::fprintf(output, "%s\n", line.c_str());
                line.clear();
            }
            line += line.empty() ? word : " " + word;
            start = end + 1;
        }
        std::fprintf(output, "%s\n", line.c_str());
        paragraph.clear();
    };
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            flush_paragraph();
        } else {
            paragraph += c;
        }
    }
    flush_paragraph();
}

void print_shown_control(const ModelDialog& dialog, const ModelControl& control) {
    const ControlTemplate& layout = *control.layout;
    if (is_text_panel(layout)) {
        if (!control.text.empty()) print_lines(control.text);
    } else if (layout.control_class == ControlClass::EDIT) {
        const ModelControl* label = label_of(dialog, layout);
        if (label != nullptr) {
            std::fprintf(output, "%s: %s\n", label->text.c_str(), control.text.c_str());
        } else if (!control.text.empty()) {
            std::fprintf(output, "%s\n", control.text.c_str());
        }
    } else if (!control.text.empty()) {
        print_wrapped(control.text);
    }
}

void remember_texts(ModelDialog& dialog) {
    dialog.view.texts.clear();
    for (const ModelControl& control : dialog.controls) dialog.view.texts.push_back(control.text);
}

// Title and texts, as the dialog opens.
void print_dialog(ModelDialog& dialog) {
    std::lock_guard<std::mutex> lock(output_mutex);
    if (output == nullptr) return;
    end_bar_line();
    std::fprintf(output, "\n== %s ==\n", dialog.title.c_str());
    for (const ModelControl* control : reading_order(dialog, is_shown)) {
        print_shown_control(dialog, *control);
    }
    std::fflush(output);
    dialog.view.title = dialog.title;
    remember_texts(dialog);
}

// --- Questions ---

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

void say(const std::string& text) {
    std::lock_guard<std::mutex> lock(output_mutex);
    if (output == nullptr) return;
    end_bar_line();
    std::fputs(text.c_str(), output);
    std::fflush(output);
}

// Prints the question and waits for its answer. When the answers come from a script rather than
// a terminal they are echoed (a password as nothing), so a transcript reads like a session.
InputResult ask(const std::string& question, std::string* answer, bool hidden) {
    say(question);
    InputResult result = console_read_line(answer, hidden);
    bool typed = result == InputResult::LINE;
    if (typed && console_input_is_terminal()) {
        say(hidden ? "\n" : "");  // the terminal echoed all but a hidden line's break
    } else {
        say(typed && !hidden ? *answer + "\n" : std::string("\n"));
    }
    return result;
}

std::string field_name(const ModelDialog& dialog, const ModelControl& control) {
    const ModelControl* label = label_of(dialog, *control.layout);
    if (label != nullptr) return label->text;
    return control.layout->control_class == ControlClass::IP_ADDRESS ? "TEV IP Address" : "Value";
}

// Why a typed address is refused at once (nullptr: it is taken), for the address control.
const char* refusal(const ModelControl& control, const std::string& answer) {
    ConsoleAddressCheck check = address_check.load();
    if (check == nullptr || control.layout->control_class != ControlClass::IP_ADDRESS) return nullptr;
    return check(answer.c_str());
}

InputResult ask_text(const ModelDialog& dialog, ModelControl& control) {
    bool hidden = is_password(*control.layout);
    std::string question = field_name(dialog, control);
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
        say("'" + answer.substr(0, 40) + "' is not an address: " + why +
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
        field_name(dialog, control) + " (" + (choices.empty() ? "none" : choices) + ")";
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
        say(control.entries.empty() ? "There is nothing to choose; press Enter.\n"
                                    : "Type a number from the list, or one of its entries.\n");
    }
}

InputResult ask_inputs(ModelDialog& dialog) {
    for (ModelControl* input : reading_order(dialog, is_input_control)) {
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
        if (!is_button(*control.layout)) continue;
        buttons.push_back(&control);
        bool is_default =
            (control.layout->style & STYLE_BUTTON_TYPE_MASK) == STYLE_BIT_DEFAULT_BUTTON;
        if (is_default && preset == nullptr) preset = &control;
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
        say("Type one of " + names + ", or press Enter for " + preset->text + ".\n");
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

// --- Progress of the modeless dialogs ---

// The title with its numbers blanked: a title that only counts on shows with the progress.
std::string title_shape(const std::string& title) {
    std::string shape;
    for (char c : title) {
        bool digit = c >= '0' && c <= '9';
        if (!digit)
            shape += c;
        else if (shape.empty() || shape.back() != '#')
            shape += '#';
    }
    return shape;
}

int percent_of(const ModelControl& bar) {
    long long span = static_cast<long long>(bar.progress_maximum) - bar.progress_minimum;
    if (span <= 0) return 0;
    long long done = static_cast<long long>(bar.progress_position) - bar.progress_minimum;
    return static_cast<int>(std::clamp(done * 100 / span, 0LL, 100LL));
}

// A long title keeps its end, where the byte counts are: the bar narrows, or goes, instead.
void draw_bar(ModelDialog& dialog, int percent) {
    std::string title = dialog.title.substr(0, BAR_LINE_COLUMNS - 5);  // " 100%"
    int cells = std::min(BAR_CELLS, BAR_LINE_COLUMNS - 8 - static_cast<int>(title.size()));
    std::string bar;
    if (cells >= BAR_CELLS_MIN) {
        int filled = percent * cells / 100;
        bar = " [" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(cells - filled), '-') + "]";
    }
    std::fprintf(output, "\r%s%s %3d%%\x1b[K", title.c_str(), bar.c_str(), percent);
    bar_open = true;
    dialog.view.drawn_at_ms = now_ms();
    dialog.view.progress_shown = dialog.title + ' ' + std::to_string(percent);
}

void print_progress_line(ModelDialog& dialog, int tenth) {
    std::fprintf(output, "%s: %d%%\n", dialog.title.c_str(), tenth * 10);
    dialog.view.progress_shown = dialog.title + ' ' + std::to_string(tenth * 10);
}

// On a terminal one line, redrawn; otherwise a line each time the bar passes another tenth of
// its range (counted again from a new range), or the title changes more than its numbers.
void show_progress(ModelDialog& dialog, const ModelControl& bar) {
    ModelDialogView& view = dialog.view;
    int percent = percent_of(bar);
    if (bar.progress_range_serial != view.progress_range_serial) {
        view.progress_range_serial = bar.progress_range_serial;
        view.progress_tenth = -1;
    }
    if (output_is_terminal()) {
        bool changed = percent != view.progress_percent || dialog.title != view.title;
        bool due = now_ms() - view.drawn_at_ms >= REDRAW_INTERVAL_MS || percent == 100;
        if (changed && due) draw_bar(dialog, percent);
    } else {
        int tenth = percent / 10;
        if (tenth > view.progress_tenth || title_shape(dialog.title) != title_shape(view.title)) {
            print_progress_line(dialog, tenth);
            view.progress_tenth = std::max(view.progress_tenth, tenth);
        }
    }
    view.progress_percent = percent;
    view.title = dialog.title;
}

// Prints what changed in a shown modeless dialog since it was last looked at.
void refresh(ModelDialog& dialog) {
    std::lock_guard<std::mutex> lock(output_mutex);
    if (output == nullptr) return;
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const ModelControl& control = dialog.controls[i];
        if (i < dialog.view.texts.size() && control.text == dialog.view.texts[i]) continue;
        if (is_shown(dialog, control) && !control.text.empty()) {
            end_bar_line();
            print_shown_control(dialog, control);
        }
    }
    remember_texts(dialog);
    // After the texts its creator sets once it is shown, before the progress.
    if (!dialog.view.cancel_hint_shown) {
        end_bar_line();
        std::fputs("Cancel: type cancel and press Enter, or press Ctrl-C.\n", output);
        dialog.view.cancel_hint_shown = true;
    }
    const ModelControl* bar = nullptr;
    for (const ModelControl& control : dialog.controls) {
        if (control.layout->control_class == ControlClass::PROGRESS) bar = &control;
    }
    if (bar != nullptr) {
        show_progress(dialog, *bar);
    } else if (dialog.title != dialog.view.title) {
        end_bar_line();
        std::fprintf(output, "== %s ==\n", dialog.title.c_str());
        dialog.view.title = dialog.title;
    }
    std::fflush(output);
}

int show_message_box(const char* text, const char* title) {
    console_input_prepare();
    {
        std::lock_guard<std::mutex> lock(output_mutex);
        if (output != nullptr) {
            end_bar_line();
            std::fprintf(output, "\n== %s ==\n", title);
            print_lines(text);
        }
    }
    DialogAnswers* source = answers.load();
    if (source != nullptr && source->unattended()) {
        say("OK [OK]: OK\n");
        return MESSAGE_BOX_OK;
    }
    std::string answer;
    ask("OK [OK]: ", &answer, false);
    return MESSAGE_BOX_OK;
}

// What the answers gave, as the questions and their typed answers would read: each field's value
// (a password as nothing), then the buttons and the one pressed.
std::string answered_lines(ModelDialog& dialog, int command) {
    std::string lines;
    for (ModelControl* input : reading_order(dialog, is_input_control)) {
        const ModelControl& control = *input;
        std::string value = control.text;
        if (control.layout->control_class == ControlClass::COMBOBOX) {
            value = control.selection >= 0
                        ? control.entries[static_cast<std::size_t>(control.selection)]
                        : std::string();
        }
        if (is_password(*control.layout)) value.clear();
        lines += field_name(dialog, control) + ": " + value + "\n";
    }
    std::string names;
    std::string preset;
    std::string pressed;
    for (const ModelControl& control : dialog.controls) {
        if (!is_button(*control.layout)) continue;
        names += (names.empty() ? "" : "/") + control.text;
        bool is_default =
            (control.layout->style & STYLE_BUTTON_TYPE_MASK) == STYLE_BIT_DEFAULT_BUTTON;
        if (preset.empty() && is_default) preset = control.text;
        if (control.layout->id == command) pressed = control.text;
    }
    return lines + names + " [" + preset + "]: " + pressed + "\n";
}

// The answers' turn at a modal dialog that has just been shown: each button they press is shown
// after the dialog's button question, as a typed answer would be.
void take_answers(WindowHandle handle, int template_id) {
    DialogAnswers* source = answers.load();
    if (source == nullptr) return;
    for (int presses = 0;; ++presses) {
        ModelDialog* dialog = model_dialog_find(handle);
        if (dialog == nullptr || dialog->ended) return;
        int command = source->answer_dialog(handle, template_id, presses);
        dialog = model_dialog_find(handle);
        if (command == 0 || dialog == nullptr) return;
        say(answered_lines(*dialog, command));
        model_send_command(handle, command);
    }
}

}  // namespace

// Called as a bar takes a new range, which starts a new phase of its dialog. The phase's last state
// is shown when no look caught it (the upload's final count comes with the last acknowledgement,
// and the wait after it sets its own range before the dialog is looked at again); on a terminal
// the finished phase keeps its line.
void console_progress_phase_ends(ModelDialog& dialog, const ModelControl& bar) {
    if (!dialog.visible || bar.progress_range_serial != dialog.view.progress_range_serial) return;
    std::lock_guard<std::mutex> lock(output_mutex);
    int percent = percent_of(bar);
    if (output_is_terminal()) {
        if (dialog.view.progress_shown != dialog.title + ' ' + std::to_string(percent)) {
            draw_bar(dialog, percent);
        }
        end_bar_line();
    } else if (dialog.view.progress_shown != dialog.title + ' ' + std::to_string(percent / 10 * 10)) {
        print_progress_line(dialog, percent / 10);
    }
    std::fflush(output);
}

void console_output_use(std::FILE* out) {
    std::lock_guard<std::mutex> lock(output_mutex);
    output = out;
    bar_open = false;
}

void console_dialogs_refuse_creation(int template_id) { refused_template.store(template_id); }

void console_address_check_use(ConsoleAddressCheck check) { address_check.store(check); }

void dialogs_use_answers(DialogAnswers* source) { answers.store(source); }

int dialog_run_modal(ModuleHandle, int template_id, DialogProc procedure) {
    console_input_prepare();
    if (template_id == refused_template.load()) return -1;
    ModelDialog* dialog = model_dialog_create(template_id, procedure);
    if (dialog == nullptr) return -1;
    int end_code = dialog->end_code;
    if (!dialog->ended) {
        dialog->visible = true;
        print_dialog(*dialog);
        take_answers(dialog, template_id);
        end_code = run_questions(dialog);
    }
    ModelDialog* live = model_dialog_find(dialog);
    if (live != nullptr) model_dialog_remove(live);
    return end_code;
}

WindowHandle dialog_open_modeless(ModuleHandle, int template_id, DialogProc procedure) {
    return model_dialog_create(template_id, procedure);
}

void dialog_show(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog == nullptr || dialog->visible) return;
    console_input_prepare();
    model_observe_progress_phases(console_progress_phase_ends);
    dialog->visible = true;
    print_dialog(*dialog);
}

void dialog_destroy(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog == nullptr) return;
    if (dialog->visible) {
        std::lock_guard<std::mutex> lock(output_mutex);
        if (output != nullptr) {
            end_bar_line();
            std::fflush(output);
        }
    }
    model_dialog_remove(dialog);
}

bool dialog_pump_one(WindowHandle handle) {
    ModelDialog* dialog = model_dialog_find(handle);
    if (dialog == nullptr || !dialog->visible) return false;
    refresh(*dialog);
    if (!console_take_cancel_request()) return false;
    if (!console_input_is_terminal()) say("cancel\n");
    model_send_command(handle, CONTROL_CANCEL);
    return true;
}

void dialog_pump_all(WindowHandle handle) {
    while (dialog_pump_one(handle)) {
    }
}

int message_box_task_modal(const char* text, const char* title) {
    return show_message_box(text, title);
}

int message_box_owned(WindowHandle, const char* text, const char* title) {
    return show_message_box(text, title);
}
