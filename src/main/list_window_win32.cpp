// The list window: a resizable dialog, built in memory with the dialogs' font so that it follows
// the system's DPI as they do, holding the head line of the run, a list view in report mode with a
// row per device, the whole state of the selected row under it, and the buttons of the step the
// run is at. The fleet's run and its steps decide everything; the window shows them, asks the
// person, and a timer hands the children's lines to the run.
#include "main/list_window.h"

#include <windows.h>
// after windows.h, which they need
#include <commctrl.h>
#include <commdlg.h>

#include <cctype>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "fleet/fleet_steps.h"
#include "main/fleet_children.h"
#include "main/fleet_options.h"
#include "main/list_rows.h"
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
    ID_DETAIL = CONTROL_LIST_DETAIL,
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
constexpr int COLUMN_WIDTHS[LIST_COLUMNS] = {80, 60, 56, 56, 60, 130};
constexpr int COLUMN_PADDING = 10;  // the list view's margins around a cell's text
constexpr int WINDOW_WIDTH = 490;
constexpr int WINDOW_HEIGHT = 220;

std::wstring wide(const std::string& text) {
    std::wstring out;
    for (char c : text) out.push_back(static_cast<unsigned char>(c));
    return out;
}

// A problem as a box says it: a capital first.
std::string sentence(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

class ListWindow final : private FleetRunWatcher {
public:
    ListWindow(ModuleHandle instance, FleetPlan plan, const ScriptedAnswerSet& answers)
        : instance_(instance), answers_(answers),
          children_(own_program_path("tev-upgrade.exe"), plan.devices.size()),
          run_(std::move(plan), process_environment(), clock_, children_), steps_(run_) {
        children_.attach(&run_);
        run_.watch(this);
        for (std::size_t i = 0; i < run_.rows().size(); ++i) dirty_.push_back(i);
    }

    bool open_report(std::string* problem) { return run_.open_report(problem); }
    int run();
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

private:
    void row_changed(std::size_t row, const FleetRow&, const FleetRow&) override {
        dirty_.push_back(row);
    }
    void rows_replaced() override;

    void init(HWND window);
    void make_controls();
    void insert_items();
    void lay_out();
    void show_step_buttons();
    void draw_rows();
    void fit_column(int column, const std::string& text);
    void draw_head();
    void draw_detail();
    void on_timer();
    void on_command(int id);
    void follow(FleetNext next);
    bool ask_password(bool again);
    void start_upgrade();
    void stop();
    void save_report();
    void finish();
    HWND item(int id) const { return GetDlgItem(window_, id); }
    int pixels_x(int units) const;
    int pixels_y(int units) const;

    ModuleHandle instance_;
    ScriptedAnswerSet answers_;
    FleetSystemClock clock_;
    FleetProcesses children_;
    FleetRun run_;
    FleetSteps steps_;
    HWND window_ = nullptr;
    std::vector<std::size_t> dirty_;
    std::string asked_user_;  // the user the password dialog shows when it asks again
    bool in_timer_ = false;  // a box or dialog opened from the timer lets the timer in again
    bool finished_ = false;
};

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

void ListWindow::make_controls() {
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
        fit_column(c, column.pszText);
    }
    insert_items();
    make("STATIC", "", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_ENDELLIPSIS, ID_DETAIL);
    make("BUTTON", "Include current devices", WS_TABSTOP | BS_AUTOCHECKBOX, ID_INCLUDE_CURRENT);
    make("BUTTON", "Upgrade", WS_TABSTOP | BS_DEFPUSHBUTTON, ID_UPGRADE);
    make("BUTTON", "Stop", WS_TABSTOP | BS_PUSHBUTTON, ID_STOP);
    make("BUTTON", "Run Failed Again", WS_TABSTOP | BS_PUSHBUTTON, ID_RETRY);
    make("BUTTON", "Save Report\x85", WS_TABSTOP | BS_PUSHBUTTON, ID_SAVE);
    make("BUTTON", "Close", WS_TABSTOP | BS_PUSHBUTTON, ID_CLOSE);
}

// An empty item for each of the run's rows; draw_rows fills them.
void ListWindow::insert_items() {
    for (std::size_t i = 0; i < run_.rows().size(); ++i) {
        LVITEMA entry{};
        entry.mask = LVIF_TEXT;
        entry.iItem = static_cast<int>(i);
        entry.pszText = const_cast<char*>("");
        ListView_InsertItem(item(ID_LIST), &entry);
    }
}

// After a scan the list holds the TEVs found, and the title counts them.
void ListWindow::rows_replaced() {
    ListView_DeleteAllItems(item(ID_LIST));
    insert_items();
    dirty_.clear();
    for (std::size_t i = 0; i < run_.rows().size(); ++i) dirty_.push_back(i);
    SetWindowTextA(window_, list_window_title(upgrade_state.product_label, run_.rows().size()).c_str());
}

void ListWindow::init(HWND window) {
    window_ = window;
    SetWindowTextA(window_, list_window_title(upgrade_state.product_label, run_.rows().size()).c_str());
    make_controls();
    lay_out();
    SetTimer(window_, RUN_TIMER, RUN_TIMER_MS, nullptr);
    follow(steps_.begin());
}

// The head line and the list take the width, the selected row's line under the list; the
// buttons sit in a line under it, the check box at their left.
void ListWindow::lay_out() {
    RECT client;
    GetClientRect(window_, &client);
    int margin = pixels_x(MARGIN), top = pixels_y(MARGIN), gap = pixels_x(GAP);
    int width = client.right - 2 * margin;
    int head = pixels_y(HEAD_HEIGHT), button_height = pixels_y(BUTTON_HEIGHT);
    int buttons_top = client.bottom - top - button_height;
    int detail_top = buttons_top - pixels_y(GAP) - head;
    MoveWindow(item(ID_HEAD), margin, top, width, head, TRUE);
    int list_top = top + head + pixels_y(GAP);
    MoveWindow(item(ID_LIST), margin, list_top, width, detail_top - pixels_y(GAP) - list_top, TRUE);
    MoveWindow(item(ID_DETAIL), margin, detail_top, width, head, TRUE);
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
    bool running = steps_.running();
    bool include_current = IsDlgButtonChecked(window_, ID_INCLUDE_CURRENT) == BST_CHECKED;
    std::size_t to_upgrade = steps_.rows_to_upgrade(include_current).size();
    bool may_upgrade = steps_.may_upgrade();
    SetDlgItemTextA(window_, ID_UPGRADE, list_upgrade_text(to_upgrade).c_str());
    ShowWindow(item(ID_UPGRADE), may_upgrade ? SW_SHOW : SW_HIDE);
    EnableWindow(item(ID_UPGRADE), to_upgrade > 0);
    ShowWindow(item(ID_INCLUDE_CURRENT), may_upgrade ? SW_SHOW : SW_HIDE);
    ShowWindow(item(ID_STOP), running ? SW_SHOW : SW_HIDE);
    ShowWindow(item(ID_RETRY), steps_.may_retry() ? SW_SHOW : SW_HIDE);
    ShowWindow(item(ID_SAVE), running ? SW_HIDE : SW_SHOW);
    ShowWindow(item(ID_CLOSE), running ? SW_HIDE : SW_SHOW);
    lay_out();
}

// The rows that changed, and the columns as wide as their texts: a label or a reason is not cut.
void ListWindow::draw_rows() {
    if (dirty_.empty()) return;
    HWND list = item(ID_LIST);
    for (std::size_t row : dirty_) {
        std::vector<std::string> texts = list_row_texts(run_.rows()[row], steps_.checking());
        for (int c = 0; c < LIST_COLUMNS; ++c) {
            ListView_SetItemText(list, static_cast<int>(row), c, texts[c].data());
            fit_column(c, texts[c]);
        }
    }
    dirty_.clear();
    draw_detail();
}

// A column widens to its widest text, heading included, so that no label or state is cut; it
// never narrows while the run goes.
void ListWindow::fit_column(int column, const std::string& text) {
    int width = ListView_GetStringWidth(item(ID_LIST), const_cast<char*>(text.c_str())) +
                pixels_x(COLUMN_PADDING);
    if (width > ListView_GetColumnWidth(item(ID_LIST), column)) {
        ListView_SetColumnWidth(item(ID_LIST), column, width);
    }
}

void ListWindow::draw_head() {
    std::string head = run_.head_line();
    char shown[1024] = "";
    GetDlgItemTextA(window_, ID_HEAD, shown, sizeof shown);
    if (head != shown) SetDlgItemTextA(window_, ID_HEAD, head.c_str());
}

void ListWindow::draw_detail() {
    int selected = ListView_GetNextItem(item(ID_LIST), -1, LVNI_SELECTED);
    std::string detail;
    if (selected >= 0 && static_cast<std::size_t>(selected) < run_.rows().size()) {
        detail = list_row_detail(run_.rows()[selected], steps_.checking());
    }
    SetDlgItemTextA(window_, ID_DETAIL, detail.c_str());
}

// The password dialog, as the single-device run shows it; again: after a refusal, with nothing
// filled in but the user. True when it was given.
bool ListWindow::ask_password(bool again) {
    if (again) {
        ScriptedAnswerSet fresh = answers_;
        fresh.has_password = false;
        fresh.password.clear();
        asked_user_ = run_.plan().user;
        if (!asked_user_.empty()) fresh.user = asked_user_.c_str();
        scripted_answers_use(fresh);
    }
    EnableWindow(window_, FALSE);
    bool given = dialog_run_modal(instance_, DIALOG_PASSWORD, password_dialog_proc) > 0;
    EnableWindow(window_, TRUE);
    SetForegroundWindow(window_);
    return given;
}

// What the steps ask for next.
void ListWindow::follow(FleetNext next) {
    if (next == FleetNext::ASK_PASSWORD) {
        bool again = steps_.may_retry();
        next = ask_password(again) ? steps_.password_given(upgrade_state.auth.user_name,
                                                           upgrade_state.auth.password)
                                   : steps_.password_declined();
    }
    if (next == FleetNext::CLOSE) return finish();
    show_step_buttons();
    draw_rows();
    draw_head();
}

// The warning once, then the devices that need it (and the current ones when the box is ticked).
void ListWindow::start_upgrade() {
    bool include_current = IsDlgButtonChecked(window_, ID_INCLUDE_CURRENT) == BST_CHECKED;
    if (steps_.rows_to_upgrade(include_current).empty()) return;
    EnableWindow(window_, FALSE);
    bool accepted = dialog_run_modal(instance_, DIALOG_WARNING, warning_dialog_proc) > 0;
    EnableWindow(window_, TRUE);
    SetForegroundWindow(window_);
    if (!accepted) return;
    steps_.upgrade(include_current);
    follow(FleetNext::WAIT);
}

// Stop while a device writes its flash asks first: the device goes on writing whatever the run
// does.
void ListWindow::stop() {
    int flashing = steps_.flashing();
    if (flashing > 0 &&
        MessageBoxA(window_, list_stop_question(flashing).c_str(), "Stop",
                    MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
        return;
    }
    steps_.stop();
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
    if (!run_.save_report(name, format, &problem)) {
        message_box_owned(window_, sentence(problem).c_str(), ERROR_BOX_TITLE);
    }
}

// The timer goes before the window does: nothing it calls may outlive the window.
void ListWindow::finish() {
    if (finished_) return;
    finished_ = true;
    KillTimer(window_, RUN_TIMER);
    draw_rows();
    draw_head();
    EndDialog(window_, steps_.exit_status());
}

void ListWindow::on_timer() {
    if (in_timer_ || finished_) return;
    in_timer_ = true;
    children_.wait(0);
    FleetNext next = steps_.poll();
    if (next != FleetNext::WAIT) {
        follow(next);
    } else {
        draw_rows();
        draw_head();
    }
    in_timer_ = false;
}

void ListWindow::on_command(int id) {
    if (finished_) return;
    switch (id) {
        case ID_UPGRADE: start_upgrade(); break;
        case ID_INCLUDE_CURRENT: show_step_buttons(); break;
        case ID_RETRY: follow(steps_.retry()); break;
        case ID_SAVE: save_report(); break;
        case ID_STOP: stop(); break;
        case ID_CLOSE: follow(steps_.close()); break;
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
        case WM_NOTIFY: {
            const auto* note = reinterpret_cast<const NMHDR*>(lparam);
            if (note->idFrom == ID_LIST && note->code == LVN_ITEMCHANGED) self->draw_detail();
            return FALSE;
        }
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

// A problem with the options or a file they name: one box, and nothing is sent.
int usage_box(const std::string& problem) {
    show_error_box(sentence(problem).c_str());
    return EXIT_USAGE;
}

}  // namespace

int run_list_window(ModuleHandle instance, const CommandLine& line) {
    FleetPlan plan;
    std::string problem;
    if (fleet_plan_from(line, FleetProgram::WINDOWS, &plan, &problem) != FleetPlanProblem::NONE) {
        return usage_box(problem);
    }
    // The options fill the password dialog's user; with /yes the boxes press their own OK.
    ScriptedAnswerSet answers;
    answers.user = line.user;
    answers.yes = line.yes;
    answers.has_password = plan.has_password;
    answers.password = plan.password;
    answers.password_option = "/passwordfile";
    scripted_answers_use(answers);
    upgrade_state.app_instance = instance;
    start_up();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    ListWindow window(instance, std::move(plan), answers);
    if (!window.open_report(&problem)) return usage_box(problem);
    return window.run();
}
