// Printing the dialogs: a title line, then the texts and values from top to bottom; a label wraps
// as the window wraps it, a text panel keeps its own lines, a value stands beside its label.
#include "console/dialog_printing.h"

#include <string>

#include "console/control_kinds.h"

namespace {

constexpr std::size_t WRAP_COLUMNS = 76;

// A text panel: its own CR LF breaks are its lines.
void print_lines(std::FILE* out, const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') {
            std::fprintf(out, "%s\n", line.c_str());
            line.clear();
        } else {
            line += c;
        }
    }
    std::fprintf(out, "%s\n", line.c_str());
}

// A label wraps at word boundaries, as the window does.
void print_wrapped(std::FILE* out, const std::string& text) {
    std::string paragraph;
    auto flush_paragraph = [out, &paragraph] {
        std::string line;
        std::size_t start = 0;
        while (start <= paragraph.size()) {
            std::size_t end = paragraph.find(' ', start);
            if (end == std::string::npos) end = paragraph.size();
            std::string word = paragraph.substr(start, end - start);
            if (!line.empty() && line.size() + 1 + word.size() > WRAP_COLUMNS) {
                std::fprintf(out, "%s\n", line.c_str());
                line.clear();
            }
            line += line.empty() ? word : " " + word;
            start = end + 1;
        }
        std::fprintf(out, "%s\n", line.c_str());
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

void print_shown_control(std::FILE* out, const ModelDialog& dialog, const ModelControl& control) {
    const ControlTemplate& layout = *control.layout;
    if (control_is_text_panel(layout)) {
        if (!control.text.empty()) print_lines(out, control.text);
    } else if (layout.control_class == ControlClass::EDIT) {
        const ModelControl* label = control_label(dialog, layout);
        if (label != nullptr) {
            std::fprintf(out, "%s: %s\n", label->text.c_str(), control.text.c_str());
        } else if (!control.text.empty()) {
            std::fprintf(out, "%s\n", control.text.c_str());
        }
    } else if (!control.text.empty()) {
        print_wrapped(out, control.text);
    }
}

void remember_texts(ModelDialog& dialog) {
    dialog.view.texts.clear();
    for (const ModelControl& control : dialog.controls) dialog.view.texts.push_back(control.text);
}

}  // namespace

void print_dialog(ModelDialog& dialog) {
    HeldOutput held;
    std::FILE* out = held.stream();
    if (out == nullptr) return;
    held.end_bar_line();
    std::fprintf(out, "\n== %s ==\n", dialog.title.c_str());
    for (const ModelControl* control : controls_in_reading_order(dialog, control_is_shown)) {
        print_shown_control(out, dialog, *control);
    }
    std::fflush(out);
    dialog.view.title = dialog.title;
    remember_texts(dialog);
}

void print_changed_texts(HeldOutput& held, ModelDialog& dialog) {
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const ModelControl& control = dialog.controls[i];
        if (i < dialog.view.texts.size() && control.text == dialog.view.texts[i]) continue;
        if (control_is_shown(dialog, control) && !control.text.empty()) {
            held.end_bar_line();
            print_shown_control(held.stream(), dialog, control);
        }
    }
    remember_texts(dialog);
}

void print_message_box(const char* text, const char* title) {
    HeldOutput held;
    std::FILE* out = held.stream();
    if (out == nullptr) return;
    held.end_bar_line();
    std::fprintf(out, "\n== %s ==\n", title);
    print_lines(out, text);
}
