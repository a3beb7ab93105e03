// The list window: a resizable dialog, built in memory with the dialogs' font so that it follows
// the system's DPI as they do, holding the head line of the run, a list view in report mode with a
// row per device, and the buttons of the step the run is at. A timer hands the children's lines to
// the fleet's scheduler and redraws the rows that changed.
#include "main/list_window.h"

#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>
#include <commdlg.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "fleet/child_rows.h"
#include "fleet/fleet_progress.h"
#include "fleet/fleet_report.h"
#include "fleet/fleet_scheduler.h"
#include "main/list_rows.h"
#include "main/list_settings.h"
#include "main/run_options.h"
#include "platform/child_process.h"
#include "res/dialog_ids.h"
#include "ui/dialog_procs.h"
#include "ui/error_box.h"
#include "ui/scripted_answers.h"

namespace {

constexpr UINT_PTR RUN_TIMER = 1;
constexpr UINT RUN_TIMER_MS = 100;

// The controls, created in the window's init; Close is the dialog's Cancel, so that Esc and the
// caption's close box mean it too.
enum Control {
    ID_HEAD = CONTROL_LIST_HEAD,
    ID_LIST = CONTROL_LIST_ROWS,
    ID_INCLUDE_CURRENT = CONTROL_LIST_INCLUDE_CURRENT,
    ID_UPGRADE = CONTROL_LIST_UPGRADE,
    ID_STOP = CONTROL_LIST_STOP,
    ID_RETRY = CONTROL_LIST_RETRY,
    ID_SAVE = CONTROL_LIST_SAVE,
    ID_CLOSE = CONTROL_LIST_CLOSE,
};
constexpr Control BUTTONS[] = {ID_UPGRADE, ID_STOP, ID_RETRY, ID_SAVE, ID_CLOSE};

// Sizes in dialog units, turned into pixels of the window's font.
constexpr int MARGIN = 7;
constexpr int HEAD_HEIGHT = 10;
constexpr int BUTTON_WIDTH = 74;
constexpr int BUTTON_HEIGHT = 14;
constexpr int GAP = 4;
constexpr int CHECK_WIDTH = 110;
constexpr int COLUMN_WIDTHS[LIST_COLUMNS] = {80, 60, 56, 56, 130};
constexpr int WINDOW_WIDTH = 430;
constexpr int WINDOW_HEIGHT = 220;

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::wstring wide(const std::string& text) {
    std::wstring out;
    for (char c : text) out.push_back(static_cast<unsigned char>(c));
    return out;
}

// --- One step's run: the check, the upgrade, or the failed ones again ---

class ListWindow;

class StepRun final : public FleetChildren, public ChildReceiver, public FleetWatcher {
public:
    StepRun(ListWindow& window, FleetPlan plan, std::vector<std::size_t> rows,
            std::vector<std::string> environment);

    bool start(std::size_t row, const std::vector<std::string>& arguments,
               std::string* problem) override {
        int id = set_.start(program_, arguments, environment_, problem);
        if (id < 0) return false;
        rows_of_children_.bind(row, id);
        return true;
    }
    void cancel(std::size_t row) override { set_.cancel(rows_of_children_.child(row)); }
    void kill(std::size_t row) override { set_.kill(rows_of_children_.child(row)); }
    void output_line(int id, ChildStream stream, const std::string& line) override {
        if (stream == ChildStream::OUTPUT) scheduler_->child_output(rows_of_children_.row(id), line);
        else scheduler_->child_error(rows_of_children_.row(id), line);
    }
    void process_ended(int id, bool exited, int code) override {
        scheduler_->child_ended(rows_of_children_.row(id), exited, code);
    }
    void row_changed(std::size_t row, const FleetRow& before, const FleetRow& after) override;

    // Hands over what the children did and starts what may start; true once every row ended.
    bool poll() {
        set_.wait(0, *this);
        scheduler_->step();
        return scheduler_->finished();
    }
    void stop() { scheduler_->interrupt("stopped"); }
    bool checking() const { return plan_.check; }

private:
    ListWindow& window_;
    FleetPlan plan_;
    std::vector<std::size_t> rows_;  // the window's row of each of this run's rows
    std::string program_ = own_program_path("tev-upgrade.exe");
    std::vector<std::string> environment_;
    ChildRows rows_of_children_;
    ChildSet set_;
    class SteadyClock final : public FleetClock {
    public:
        std::int64_t now_ms() override { return ::now_ms(); }
    } clock_;
    std::unique_ptr<FleetScheduler> scheduler_;
};

// --- The window ---

class ListWindow {
public:
    ListWindow(ModuleHandle instance, ListSettings settings)
        : instance_(instance), settings_(std::move(settings)) {
        for (const FleetDevice& device : settings_.plan.devices) {
            FleetRow row;
            row.address = device.address;
            row.label = device.label;
            rows_.push_back(row);
        }
    }

    int run();
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    // A row of the step's run changed.
    void row_changed(std::size_t row, const FleetRow& after, bool finished) {
        list_row_take(&rows_[row], after);
        dirty_.push_back(row);
        if (finished) write_report();
    }

private:
    void init(HWND window);
    void lay_out();
    void show_step_buttons();
    void draw_rows();
    void draw_head();
    void on_timer();
    void on_command(int id);
    void step_ended();
    void start_step(std::vector<std::size_t> rows, bool check, bool skip_current);
    void start_upgrade();
    void save_report();
    void write_report();
    void finish();
    HWND item(int id) const { return GetDlgItem(window_, id); }
    int pixels_x(int units) const;
    int pixels_y(int units) const;
    std::vector<std::string> child_environment() const;
    bool ask_password(const std::vector<std::size_t>& rows);

    ModuleHandle instance_;
    ListSettings settings_;
    HWND window_ = nullptr;
    std::vector<FleetRow> rows_;
    std::vector<std::size_t> dirty_;
    std::vector<bool> in_step_;  // the rows the last step runs
    std::unique_ptr<StepRun> step_;
    std::int64_t started_ms_ = now_ms();
    bool checked_ = false;         // the check has run
    bool upgraded_ = false;        // an upgrade has run
    bool password_asked_ = false;  // the password dialog comes once
    bool close_when_done_ = false;
    bool report_failed_ = false;
};

StepRun::StepRun(ListWindow& window, FleetPlan plan, std::vector<std::size_t> rows,
                 std::vector<std::string> environment)
    : window_(window), plan_(std::move(plan)), rows_(std::move(rows)),
      environment_(std::move(environment)), rows_of_children_(rows_.size()) {
    scheduler_ = std::make_unique<FleetScheduler>(plan_, clock_, *this, this);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        window_.row_changed(rows_[i], scheduler_->rows()[i], false);
    }
}

void StepRun::row_changed(std::size_t row, const FleetRow& before, const FleetRow& after) {
    window_.row_changed(rows_[row], after, !fleet_row_finished(before) && fleet_row_finished(after));
}

int ListWindow::pixels_x(int units) const {
    RECT rect{0, 0, units, 0};
    MapDialogRect(window_, &rect);
    return rect.right;
}

int ListWindow::pixels_y(int units) const {
    RECT rect{0, 0, 0, units};
    MapDialogRect(window_, &rect);
    return rect.bottom;
}

void ListWindow::init(HWND window) {
    window_ = window;
    SetWindowTextA(window_, list_window_title(upgrade_state.product_label, rows_.size()).c_str());
    auto font = static_cast<WPARAM>(SendMessageA(window_, WM_GETFONT, 0, 0));
    auto make = [&](const char* type, const char* text, DWORD style, int id) {
        HWND control = CreateWindowExA(0, type, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                                       window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                       static_cast<HINSTANCE>(instance_), nullptr);
        SendMessageA(control, WM_SETFONT, font, FALSE);
        return control;
    };
    make("STATIC", "", SS_LEFTNOWORDWRAP | SS_NOPREFIX, ID_HEAD);
    HWND list = make(WC_LISTVIEWA, "", WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS |
                                            LVS_SINGLESEL, ID_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int c = 0; c < LIST_COLUMNS; ++c) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(list_column_title(static_cast<ListColumn>(c)));
        column.cx = pixels_x(COLUMN_WIDTHS[c]);
        column.iSubItem = c;
        ListView_InsertColumn(list, c, &column);
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        LVITEMA entry{};
        entry.mask = LVIF_TEXT;
        entry.iItem = static_cast<int>(i);
        entry.pszText = const_cast<char*>("");
        ListView_InsertItem(list, &entry);
        dirty_.push_back(i);
    }
    make("BUTTON", "Include current devices", WS_TABSTOP | BS_AUTOCHECKBOX, ID_INCLUDE_CURRENT);
    make("BUTTON", "Upgrade", WS_TABSTOP | BS_DEFPUSHBUTTON, ID_UPGRADE);
    make("BUTTON", "Stop", WS_TABSTOP | BS_PUSHBUTTON, ID_STOP);
    make("BUTTON", "Run Failed Again", WS_TABSTOP | BS_PUSHBUTTON, ID_RETRY);
    make("BUTTON", "Save Report\x85", WS_TABSTOP | BS_PUSHBUTTON, ID_SAVE);
    make("BUTTON", "Close", WS_TABSTOP | BS_PUSHBUTTON, ID_CLOSE);
    lay_out();
    SetTimer(window_, RUN_TIMER, RUN_TIMER_MS, nullptr);
    start_step({}, true, false);
}

// The head line and the list take the width; the buttons sit in a line under the list, the check
// box at their left.
void ListWindow::lay_out() {
    RECT client;
    GetClientRect(window_, &client);
    int margin = pixels_x(MARGIN), top = pixels_y(MARGIN), gap = pixels_x(GAP);
    int width = client.right - 2 * margin;
    int head = pixels_y(HEAD_HEIGHT), button_height = pixels_y(BUTTON_HEIGHT);
    int buttons_top = client.bottom - top - button_height;
    MoveWindow(item(ID_HEAD), margin, top, width, head, TRUE);
    int list_top = top + head + pixels_y(GAP);
    MoveWindow(item(ID_LIST), margin, list_top, width, buttons_top - pixels_y(GAP) - list_top, TRUE);
    MoveWindow(item(ID_INCLUDE_CURRENT), margin, buttons_top, pixels_x(CHECK_WIDTH), button_height,
               TRUE);
    int right = client.right - margin;
    int button_width = pixels_x(BUTTON_WIDTH);
    for (auto i = std::size(BUTTONS); i-- > 0;) {
        HWND button = item(BUTTONS[i]);
        if (!IsWindowVisible(button)) continue;
        MoveWindow(button, right - button_width, buttons_top, button_width, button_height, TRUE);
        right -= button_width + gap;
    }
}

// Each step shows its own buttons: Stop while a run goes, Upgrade after the check, the rest at
// the end.
void ListWindow::show_step_buttons() {
    bool running = step_ != nullptr;
    std::size_t to_upgrade = list_rows_to_upgrade(
        rows_, IsDlgButtonChecked(window_, ID_INCLUDE_CURRENT) == BST_CHECKED).size();
    bool may_upgrade = !running && checked_ && !upgraded_ && !settings_.check_only;
    bool may_retry = !running && upgraded_ && !list_rows_to_retry(rows_).empty();
    SetDlgItemTextA(window_, ID_UPGRADE, list_upgrade_text(to_upgrade).c_str());
    ShowWindow(item(ID_UPGRADE), may_upgrade ? SW_SHOW : SW_HIDE);
    EnableWindow(item(ID_UPGRADE), to_upgrade > 0);
    ShowWindow(item(ID_INCLUDE_CURRENT), may_upgrade ? SW_SHOW : SW_HIDE);
    ShowWindow(item(ID_STOP), running ? SW_SHOW : SW_HIDE);
    ShowWindow(item(ID_RETRY), may_retry ? SW_SHOW : SW_HIDE);
    ShowWindow(item(ID_SAVE), running ? SW_HIDE : SW_SHOW);
    ShowWindow(item(ID_CLOSE), running ? SW_HIDE : SW_SHOW);
    lay_out();
}

void ListWindow::draw_rows() {
    HWND list = item(ID_LIST);
    bool checking = step_ != nullptr && step_->checking();
    for (std::size_t row : dirty_) {
        std::vector<std::string> texts = list_row_texts(rows_[row], checking);
        for (int c = 0; c < LIST_COLUMNS; ++c) {
            ListView_SetItemText(list, static_cast<int>(row), c, texts[c].data());
        }
    }
    dirty_.clear();
}

// The time left is the step's: the times of rows it does not run (the check's) stay out of it.
void ListWindow::draw_head() {
    std::vector<FleetRow> timed = rows_;
    for (std::size_t i = 0; i < timed.size(); ++i) {
        if (!in_step_[i]) timed[i].started_ms = -1;
    }
    std::string head = fleet_head_line(timed, settings_.plan.jobs, started_ms_, now_ms());
    char shown[512] = "";
    GetDlgItemTextA(window_, ID_HEAD, shown, sizeof shown);
    if (head != shown) SetDlgItemTextA(window_, ID_HEAD, head.c_str());
}

std::vector<std::string> ListWindow::child_environment() const {
    std::vector<std::string> environment = fleet_child_environment(
        process_environment(), settings_.has_password ? &settings_.password : nullptr);
    // The child's dialogs and boxes run hidden, and its standard input's end is its Cancel.
    environment.push_back("TEV_HIDDEN=1");
    return environment;
}

void ListWindow::start_step(std::vector<std::size_t> rows, bool check, bool skip_current) {
    if (rows.empty()) {
        for (std::size_t i = 0; i < rows_.size(); ++i) rows.push_back(i);
    }
    FleetPlan plan;
    plan.jobs = settings_.plan.jobs;
    plan.deadline_ms = settings_.plan.deadline_ms;
    // The canary and the budget are the upgrade's; a check reads every device.
    if (!check && !upgraded_) {
        plan.canary = settings_.plan.canary;
        plan.max_failures = settings_.plan.max_failures;
    }
    plan.check = check;
    plan.skip_current = skip_current;
    for (std::size_t row : rows) plan.devices.push_back(settings_.plan.devices[row]);
    if (plan.canary > static_cast<int>(plan.devices.size())) plan.canary = 0;
    plan.common_arguments = {"/yes", "/events", "-"};
    if (!settings_.user.empty()) plan.common_arguments.insert(plan.common_arguments.end(), {"/user", settings_.user});
    if (!settings_.local.empty()) plan.common_arguments.insert(plan.common_arguments.end(), {"/local", settings_.local});
    started_ms_ = now_ms();
    in_step_.assign(rows_.size(), false);
    for (std::size_t row : rows) in_step_[row] = true;
    step_ = std::make_unique<StepRun>(*this, std::move(plan), std::move(rows), child_environment());
    show_step_buttons();
    draw_rows();
    draw_head();
}

// The password dialog, once, when the check found devices that want one; true when it was given.
bool ListWindow::ask_password(const std::vector<std::size_t>& rows) {
    if (settings_.has_password || password_asked_ || settings_.yes || rows.empty()) return false;
    password_asked_ = true;
    EnableWindow(window_, FALSE);
    bool given = dialog_run_modal(instance_, DIALOG_PASSWORD, password_dialog_proc) > 0;
    EnableWindow(window_, TRUE);
    SetForegroundWindow(window_);
    if (!given) return false;
    settings_.has_password = true;
    settings_.password = upgrade_state.auth.password;
    settings_.user = upgrade_state.auth.user_name;
    return true;
}

void ListWindow::step_ended() {
    bool was_check = step_->checking();
    step_.reset();
    if (was_check) {
        std::vector<std::size_t> wanting;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (list_row_wants_password(rows_[i])) wanting.push_back(i);
        }
        if (!close_when_done_ && ask_password(wanting)) {
            start_step(wanting, true, false);
            return;
        }
        checked_ = true;
    } else {
        upgraded_ = true;
    }
    if (close_when_done_) return finish();
    if (settings_.yes) {
        std::vector<std::size_t> chosen = list_rows_to_upgrade(rows_, !settings_.skip_current);
        if (was_check && !settings_.check_only && !chosen.empty()) {
            return start_step(chosen, false, settings_.skip_current);
        }
        return finish();
    }
    show_step_buttons();
}

// The warning once, then the devices that need it (and the current ones when the box is ticked).
void ListWindow::start_upgrade() {
    bool include_current = IsDlgButtonChecked(window_, ID_INCLUDE_CURRENT) == BST_CHECKED;
    std::vector<std::size_t> chosen = list_rows_to_upgrade(rows_, include_current);
    if (chosen.empty()) return;
    EnableWindow(window_, FALSE);
    bool accepted = dialog_run_modal(instance_, DIALOG_WARNING, warning_dialog_proc) > 0;
    EnableWindow(window_, TRUE);
    SetForegroundWindow(window_);
    if (accepted) start_step(chosen, false, !include_current);
}

void ListWindow::write_report() {
    if (settings_.report.empty()) return;
    std::string problem;
    if (!fleet_report_write(settings_.report, rows_, settings_.format, &problem) && !report_failed_) {
        report_failed_ = true;
        problem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
        message_box_owned(window_, problem.c_str(), ERROR_BOX_TITLE);
    }
}

// The system's save dialog; the file's ending, or the type chosen, picks CSV or JSON.
void ListWindow::save_report() {
    char path[MAX_PATH] = "report.csv";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = "CSV (*.csv)\0*.csv\0JSON (*.json)\0*.json\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = "Save Report";
    dialog.lpstrDefExt = "csv";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&dialog)) return;
    FleetReportFormat format = FleetReportFormat::CSV;
    std::string name = path;
    if (!fleet_report_format(name, &format)) {
        format = dialog.nFilterIndex == 2 ? FleetReportFormat::JSON : FleetReportFormat::CSV;
    }
    std::string problem;
    if (!fleet_report_write(name, rows_, format, &problem)) {
        problem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
        message_box_owned(window_, problem.c_str(), ERROR_BOX_TITLE);
    }
}

void ListWindow::finish() {
    write_report();
    KillTimer(window_, RUN_TIMER);
    EndDialog(window_, list_exit_status(rows_));
}

void ListWindow::on_timer() {
    if (step_ != nullptr && step_->poll()) step_ended();
    draw_rows();
    draw_head();
}

void ListWindow::on_command(int id) {
    switch (id) {
        case ID_UPGRADE: start_upgrade(); break;
        case ID_INCLUDE_CURRENT: show_step_buttons(); break;
        case ID_RETRY: start_step(list_rows_to_retry(rows_), false, true); break;
        case ID_SAVE: save_report(); break;
        case ID_STOP:
            // The first Stop cancels every child (each presses its Cancel); the next kills them.
            if (step_ != nullptr) step_->stop();
            break;
        case ID_CLOSE:
            if (step_ == nullptr) return finish();
            close_when_done_ = true;
            if (step_ != nullptr) step_->stop();
            break;
        default: break;
    }
}

INT_PTR CALLBACK ListWindow::procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        reinterpret_cast<ListWindow*>(lparam)->init(window);
        return TRUE;
    }
    auto* self = reinterpret_cast<ListWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (message) {
        case WM_TIMER:
            if (wparam == RUN_TIMER) self->on_timer();
            return TRUE;
        case WM_COMMAND: self->on_command(LOWORD(wparam)); return TRUE;
        case WM_SIZE: self->lay_out(); return TRUE;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
            limits->ptMinTrackSize.x = self->pixels_x(WINDOW_WIDTH * 3 / 4);
            limits->ptMinTrackSize.y = self->pixels_y(WINDOW_HEIGHT / 2);
            return TRUE;
        }
        default: return FALSE;
    }
}

// The window's template: no controls, the dialogs' font (so its units follow the DPI), centred.
std::vector<WORD> window_template() {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* head = reinterpret_cast<DLGTEMPLATE*>(words.data());
    head->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX |
                  WS_MAXIMIZEBOX | WS_VISIBLE | DS_SETFONT | DS_CENTER | DS_MODALFRAME;
    head->cx = WINDOW_WIDTH;
    head->cy = WINDOW_HEIGHT;
    words.push_back(0);  // no menu
    words.push_back(0);  // the dialog class
    words.push_back(0);  // no title yet
    words.push_back(8);  // the font's points
    for (wchar_t c : wide("MS Shell Dlg")) words.push_back(static_cast<WORD>(c));
    words.push_back(0);
    return words;
}

int ListWindow::run() {
    std::vector<WORD> bytes = window_template();
    // ListWindow::procedure finds the window through the creation parameter.
    INT_PTR status = DialogBoxIndirectParamA(static_cast<HINSTANCE>(instance_),
                                             reinterpret_cast<DLGTEMPLATE*>(bytes.data()), nullptr,
                                             procedure, reinterpret_cast<LPARAM>(this));
    return status < 0 ? EXIT_FAILED : static_cast<int>(status);
}

}  // namespace

bool list_window_wanted(const CommandLine& line) {
    return line.devices_path != nullptr || line.device_count > 1 || line.jobs != nullptr ||
           line.report != nullptr || line.canary != nullptr || line.max_failures != nullptr;
}

int run_list_window(ModuleHandle instance, const CommandLine& line) {
    ListSettings settings;
    std::string problem;
    if (!list_settings_read(line, &settings, &problem)) {
        problem[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(problem[0])));
        show_error_box(problem.c_str());
        return EXIT_USAGE;
    }
    ScriptedAnswerSet answers;
    if (!answers_from_options(line, &answers, &problem)) {
        show_error_box(problem.c_str());
        return EXIT_FAILED;
    }
    settings.has_password = answers.has_password;
    settings.password = answers.password;
    // The options fill the password dialog's user; with /yes the boxes press their own OK.
    answers.check = false;
    scripted_answers_use(answers);
    upgrade_state.app_instance = instance;
    start_up();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ListWindow window(instance, std::move(settings));
    return window.run();
}
