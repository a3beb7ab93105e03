// Progress of the modeless dialogs. On a terminal one line, redrawn in place at most every tenth
// of a second; otherwise a line each time the bar passes another tenth of its range.
#include "console/dialog_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/console_output.h"
#include "console/dialog_printing.h"

namespace {

constexpr int BAR_CELLS = 20;
constexpr int BAR_CELLS_MIN = 10;
constexpr int BAR_LINE_COLUMNS = 80;  // the redrawn line fits an 80-column terminal
constexpr std::int64_t REDRAW_INTERVAL_MS = 100;

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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
void draw_bar(HeldOutput& held, ModelDialog& dialog, int percent) {
    std::string title = dialog.title.substr(0, BAR_LINE_COLUMNS - 5);  // " 100%"
    int cells = std::min(BAR_CELLS, BAR_LINE_COLUMNS - 8 - static_cast<int>(title.size()));
    std::string bar;
    if (cells >= BAR_CELLS_MIN) {
        int filled = percent * cells / 100;
        bar = " [" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(cells - filled), '-') + "]";
    }
    std::fprintf(held.stream(), "\r%s%s %3d%%\x1b[K", title.c_str(), bar.c_str(), percent);
    held.bar_drawn();
    dialog.view.drawn_at_ms = now_ms();
    dialog.view.progress_shown = dialog.title + ' ' + std::to_string(percent);
}

void print_progress_line(HeldOutput& held, ModelDialog& dialog, int tenth) {
    std::fprintf(held.stream(), "%s: %d%%\n", dialog.title.c_str(), tenth * 10);
    dialog.view.progress_shown = dialog.title + ' ' + std::to_string(tenth * 10);
}

// A line is printed again after a new range, or when the title changes more than its numbers.
void show_progress(HeldOutput& held, ModelDialog& dialog, const ModelControl& bar) {
    ModelDialogView& view = dialog.view;
    int percent = percent_of(bar);
    if (bar.progress_range_serial != view.progress_range_serial) {
        view.progress_range_serial = bar.progress_range_serial;
        view.progress_tenth = -1;
    }
    if (held.is_terminal()) {
        bool changed = percent != view.progress_percent || dialog.title != view.title;
        bool due = now_ms() - view.drawn_at_ms >= REDRAW_INTERVAL_MS || percent == 100;
        if (changed && due) draw_bar(held, dialog, percent);
    } else {
        int tenth = percent / 10;
        if (tenth > view.progress_tenth || title_shape(dialog.title) != title_shape(view.title)) {
            print_progress_line(held, dialog, tenth);
            view.progress_tenth = std::max(view.progress_tenth, tenth);
        }
    }
    view.progress_percent = percent;
    view.title = dialog.title;
}

}  // namespace

void look_at_modeless(ModelDialog& dialog) {
    HeldOutput held;
    std::FILE* out = held.stream();
    if (out == nullptr) return;
    print_changed_texts(held, dialog);
    // After the texts its creator sets once it is shown, before the progress.
    if (!dialog.view.cancel_hint_shown) {
        held.end_bar_line();
        std::fputs("Cancel: type cancel and press Enter, or press Ctrl-C.\n", out);
        dialog.view.cancel_hint_shown = true;
    }
    const ModelControl* bar = nullptr;
    for (const ModelControl& control : dialog.controls) {
        if (control.layout->control_class == ControlClass::PROGRESS) bar = &control;
    }
    if (bar != nullptr) {
        show_progress(held, dialog, *bar);
    } else if (dialog.title != dialog.view.title) {
        held.end_bar_line();
        std::fprintf(out, "== %s ==\n", dialog.title.c_str());
        dialog.view.title = dialog.title;
    }
    std::fflush(out);
}

// The phase's last state is shown when no look caught it (the upload's final count comes with the
// last acknowledgement, and the wait after it sets its own range before the dialog is looked at
// again); on a terminal the finished phase keeps its line.
void progress_phase_ends(ModelDialog& dialog, const ModelControl& bar) {
    if (!dialog.visible || bar.progress_range_serial != dialog.view.progress_range_serial) return;
    HeldOutput held;
    std::FILE* out = held.stream();
    if (out == nullptr) return;
    int percent = percent_of(bar);
    if (held.is_terminal()) {
        if (dialog.view.progress_shown != dialog.title + ' ' + std::to_string(percent)) {
            draw_bar(held, dialog, percent);
        }
        held.end_bar_line();
    } else if (dialog.view.progress_shown != dialog.title + ' ' + std::to_string(percent / 10 * 10)) {
        print_progress_line(held, dialog, percent / 10);
    }
    std::fflush(out);
}
