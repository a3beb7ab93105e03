// upgrade-driver: runs tev-upgrade.exe (under Wine, against tev-device) as a user would and checks
// every dialog on the way. The dialogs a user can read are read, typed into, clicked and saved as
// screenshots; window-record.dll records every dialog shown and every title set, with those too
// brief to read from the outside (the connecting dialog, the last byte count of the upload), and
// that record is checked at the end. Then the program must end by itself, with the exit status
// that tells the outcome (0 verified, 1 failed or cancelled, 2 a wrong command line or a file it
// names that cannot be used).
//   upgrade-driver UPGRADER.EXE RECORDER.DLL OUTPUT-FOLDER SCENARIO NAME=VALUE...
// Scenarios: warning-cancel, upgrade, upload-cancel, no-device, log-unwritable, bad-option,
// wrong-name, two-addresses, fresh-cnonce, confirm-fails; unattended and unattended-refused (the
// options with /yes answer every dialog), options-fill (the options without /yes fill them in);
// list-window, list-stop and list-unattended (four devices in the list window), list-models (an
// adapter and a handset, whose model the program has no image for); and serve for the
// benchmark (to the upload's end, the image fetched by another client).
// Values: label, version, size, device, local, user, password, product, serial, mac, software,
// hardware; options (the upgrader's command line after its name, optional), box (the text of
// the one box that log-unwritable expects), problem (the first line of bad-option's box),
// unattended_options (bad-option's second run, with /yes: its box must press its own OK), log
// and logline (the program's log, and the text wrong-name waits for in it).
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "driver_support.h"
#include "res/dialog_ids.h"
#include "res/dialog_templates.h"
#include "res/dialog_texts.h"

namespace {

constexpr DWORD TRANSFER_WAIT_MS = 120000;  // the device's request, the transfer
constexpr DWORD FLASH_WAIT_MS = 90000;      // the program's 30 s wait and the verification
constexpr DWORD EXIT_WAIT_MS = 15000;
constexpr int BLOCK_SIZE = 512;

std::map<std::string, std::string> values;
std::string upgrader_path;  // the program under test
std::string output_folder;
std::string scenario;

std::string value(const std::string& name) {
    auto found = values.find(name);
    if (found != values.end()) return found->second;
    std::fprintf(stderr, "upgrade-driver: %s=... missing\n", name.c_str());
    std::exit(2);
}

// A value a scenario may leave out: empty then.
std::string value_or_none(const std::string& name) {
    auto found = values.find(name);
    return found != values.end() ? found->second : std::string();
}

// --- What the user should see ---

std::string product_title() { return value("label") + " Firmware Upgrade"; }
std::string connecting_title() { return "Connecting with TEV@" + value("device"); }
const char* const PASSWORD_TITLE = "Enter Password Information";
std::string confirm_title() { return "Confirm Upgrade to Ver. " + value("version"); }
const char* const WAITING_TITLE = "Waiting For Firmware Download Request From TEV";
const char* const UPLOAD_TEMPLATE_TITLE = "Uploading Firmware To TEV";
std::string uploading_prefix() {
    return "Uploading Target Firmware to TEV@" + value("device") + " ";
}
std::string uploading_title(int bytes) {
    return uploading_prefix() + std::to_string(bytes) + "/" + value("size") + " Bytes";
}
std::string updating_title() { return "Updating Target Firmware to TEV@" + value("device"); }
std::string success_title() { return "TEV@" + value("device") + " Upgrade Successful!"; }

// The upload titles in order: after the acknowledgement of the options none of the image has
// gone, then one more block of 512 bytes with each acknowledgement, the last block shorter.
std::vector<std::string> upload_titles() {
    int size = std::atoi(value("size").c_str());
    std::vector<std::string> titles;
    for (int block = 0; block <= size / BLOCK_SIZE + 1; ++block) {
        titles.push_back(uploading_title(std::min(block * BLOCK_SIZE, size)));
    }
    return titles;
}

// --- The program under test ---

struct Run {
    Program program;
    DWORD process_id = 0;
    std::string record_path;
    int shots = 0;
};

void screenshot(Run& run, HWND window, const std::string& step) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", ++run.shots);
    save_screenshot(window, output_folder, scenario + "-" + number + "-" + step);
}

bool start_upgrader(const std::string& upgrader, Run* run) {
    run->record_path = output_folder + "\\" + scenario + ".record";
    DeleteFileA(run->record_path.c_str());
    SetEnvironmentVariableA("TEV_WINDOW_RECORD", run->record_path.c_str());
    std::string command_line = "\"" + upgrader + "\"";
    auto options = values.find("options");
    if (options != values.end()) command_line += " " + options->second;
    if (!start_program(command_line, &run->program, "tev-upgrade.exe")) return false;
    run->process_id = run->program.process.dwProcessId;
    return true;
}

bool install_hook(const std::string& dll, const char* name, int kind) {
    HMODULE module = LoadLibraryA(dll.c_str());
    // Through void*: a FARPROC is no HOOKPROC to the compiler.
    auto procedure = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(module, name)));
    bool installed = module != nullptr && procedure != nullptr &&
                     SetWindowsHookExA(kind, procedure, module, 0) != nullptr;
    check(installed, std::string(name) + " hooked in (" + dll + ")");
    return installed;
}

bool install_recorder(const std::string& dll) {
    return install_hook(dll, "record_window_messages", WH_CALLWNDPROC);
}

// The confirm dialog of the upgrader cannot be created: its template title is refused.
bool refuse_confirm_dialog(const std::string& dll) {
    const DialogTemplate* confirm = find_dialog_template(DIALOG_CONFIRM);
    SetEnvironmentVariableA("TEV_REFUSE_WINDOW", confirm->title);
    return install_hook(dll, "refuse_window_creation", WH_CBT);
}

HWND expect_dialog(Run& run, const std::string& title, const std::string& step,
                   DWORD wait_ms = WAIT_MS) {
    HWND dialog = wait_for_dialog(run.process_id, nullptr, title.c_str(), wait_ms);
    check(dialog != nullptr, step + ": '" + title + "' shows");
    if (dialog == nullptr) describe_dialogs(run.process_id);
    return dialog;
}

void close_and_check(HWND dialog, int button, const std::string& step) {
    click(dialog, button);
    check(wait_until_gone(dialog), step + ": closes");
}

// The program ends by itself, with the status that tells the outcome: 0 verified, 1 failed or
// cancelled, 2 a wrong command line.
void expect_exit(Run& run, DWORD wanted, DWORD wait_ms = EXIT_WAIT_MS) {
    if (WaitForSingleObject(run.program.process.hProcess, wait_ms) != WAIT_OBJECT_0) {
        describe_dialogs(run.process_id);
    }
    DWORD status = 99;
    bool ended = wait_for_exit(&run.program, &status, 0);
    check(ended, "tev-upgrade.exe ends by itself");
    check(ended && status == wanted,
          "exit status " + std::to_string(status) + ", want " + std::to_string(wanted));
}

// --- The dialogs, step by step ---

bool warning_step(Run& run, int button) {
    HWND dialog = expect_dialog(run, product_title(), "warning");
    if (dialog == nullptr) return false;
    check_text(dialog, CONTROL_WARNING_TEXT, text_warning, "warning");
    check_centred(dialog, "warning");
    check_focus(dialog, CONTROL_CANCEL, "warning");
    screenshot(run, dialog, "warning");
    close_and_check(dialog, button, "warning");
    return true;
}

std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(' ', start);
        if (end != start) words.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return words;
        start = end + 1;
    }
}

std::vector<std::string> split_address(const std::string& address) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t dot; (dot = address.find('.', start)) != std::string::npos; start = dot + 1) {
        parts.push_back(address.substr(start, dot - start));
    }
    parts.push_back(address.substr(start));
    return parts;
}

// As a user types it: the digits of each number, and a full stop after a number shorter than
// three digits (after three the control moves on by itself).
void type_address(HWND dialog, const std::string& address) {
    std::vector<std::string> parts = split_address(address);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        type_text(dialog, parts[i]);
        if (i + 1 < parts.size() && parts[i].size() < 3) type_text(dialog, ".");
    }
}

// The four number fields of the address control, left to right, joined with full stops.
std::string address_shown(HWND control) {
    std::vector<HWND> fields = children_of(control);
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        return ra.left < rb.left;
    });
    std::string shown;
    for (HWND field : fields) shown += (shown.empty() ? "" : ".") + window_text(field);
    return shown;
}

// The entries as the closed list shows them, one selection after the other (the entry texts
// themselves do not cross the process boundary under Wine).
std::vector<std::string> list_entries(HWND list) {
    std::vector<std::string> entries;
    auto count = static_cast<int>(ask(list, CB_GETCOUNT));
    for (int i = 0; i < count; ++i) {
        ask(list, CB_SETCURSEL, static_cast<WPARAM>(i));
        entries.push_back(window_text(list));
    }
    return entries;
}

// Picks the local address in the drop-down list; false when the list does not offer it.
bool choose_local_address(HWND dialog, const std::string& local) {
    HWND list = GetDlgItem(dialog, CONTROL_LOCAL_ADDRESS_LIST);
    std::vector<std::string> entries = list_entries(list);
    std::string shown;
    for (const std::string& entry : entries) shown += " " + entry;
    auto at = std::find(entries.begin(), entries.end(), local);
    check(at != entries.end(), "address: the list offers " + local + " (it has:" + shown + ")");
    if (at == entries.end()) return false;
    ask(list, CB_SETCURSEL, static_cast<WPARAM>(at - entries.begin()));
    check_text(dialog, CONTROL_LOCAL_ADDRESS_LIST, local, "address");
    return true;
}

bool address_step(Run& run) {
    HWND dialog = expect_dialog(run, product_title(), "address");
    if (dialog == nullptr) return false;
    HWND control = GetDlgItem(dialog, CONTROL_DEVICE_ADDRESS);
    check(control != nullptr, "address: it is the address dialog");
    if (control == nullptr) return false;
    check_text(dialog, CONTROL_TEXT_PANEL, text_address_intro, "address");
    check_text(dialog, CONTROL_ADDRESS_HELP, text_address_help_adapter, "address");
    check_text(dialog, CONTROL_IMAGE_VERSION, "Version " + value("version"), "address");
    check_centred(dialog, "address");
    check_focus(dialog, CONTROL_DEVICE_ADDRESS, "address");
    type_address(dialog, value("device"));
    std::string shown;
    bool typed = eventually([&] { return (shown = address_shown(control)) == value("device"); });
    check(typed, "address: typed, the control shows " + shown);
    if (!choose_local_address(dialog, value("local"))) return false;
    screenshot(run, dialog, "address");
    close_and_check(dialog, CONTROL_OK, "address");
    return true;
}

bool password_step(Run& run) {
    HWND dialog = expect_dialog(run, PASSWORD_TITLE, "password");
    if (dialog == nullptr) return false;
    check_text(dialog, CONTROL_TEXT_PANEL, text_password_notice, "password");
    check_text(dialog, CONTROL_USER_NAME, "admin", "password");
    check_centred(dialog, "password");
    check_focus(dialog, CONTROL_PASSWORD, "password");
    // Back to the user field (the dialog selects its text, so typing replaces it), then on.
    press_key(dialog, VK_TAB, true);
    check_focus(dialog, CONTROL_USER_NAME, "password, Shift+Tab");
    type_text(dialog, value("user"));
    press_key(dialog, VK_TAB);
    check_focus(dialog, CONTROL_PASSWORD, "password, Tab");
    type_text(dialog, value("password"));
    // Typed keys wait behind a posted click: OK only once the fields hold what was typed.
    HWND user = GetDlgItem(dialog, CONTROL_USER_NAME);
    eventually([&] { return window_text(user) == value("user"); });
    check_text(dialog, CONTROL_USER_NAME, value("user"), "password, typed");
    HWND password = GetDlgItem(dialog, CONTROL_PASSWORD);
    auto length = static_cast<LRESULT>(value("password").size());
    check(eventually([&] { return ask(password, WM_GETTEXTLENGTH) == length; }),
          "password: " + std::to_string(length) + " characters typed");
    screenshot(run, dialog, "password");
    close_and_check(dialog, CONTROL_OK, "password");
    return true;
}

bool confirm_step(Run& run) {
    HWND dialog = expect_dialog(run, confirm_title(), "confirm");
    if (dialog == nullptr) return false;
    check_text(dialog, CONTROL_TEXT_PANEL, text_confirm_intro, "confirm");
    check_text(dialog, CONTROL_SERIAL_NUMBER, value("serial"), "confirm");
    check_text(dialog, CONTROL_MAC_ADDRESS, value("mac"), "confirm");
    check_text(dialog, CONTROL_SOFTWARE_VERSION, value("software"), "confirm");
    check_text(dialog, CONTROL_HARDWARE_VERSION, value("hardware"), "confirm");
    check_text(dialog, CONTROL_PRODUCT_NAME, value("product"), "confirm");
    check_centred(dialog, "confirm");
    check_focus(dialog, CONTROL_OK, "confirm");
    screenshot(run, dialog, "confirm");
    close_and_check(dialog, CONTROL_OK, "confirm");
    return true;
}

int progress_position(HWND dialog) {
    return static_cast<int>(ask(GetDlgItem(dialog, CONTROL_PROGRESS), PBM_GETPOS));
}

// The upload dialog during the transfer, once some of the image has gone: title with the bytes
// acknowledged so far, and a bar that counts blocks. Fails unless caught before the last byte.
HWND catch_upload(Run& run) {
    std::vector<std::string> under_way;
    for (char digit = '1'; digit <= '9'; ++digit) under_way.push_back(uploading_prefix() + digit);
    HWND dialog = wait_for_dialog_titled(run.process_id, under_way, TRANSFER_WAIT_MS);
    check(dialog != nullptr, "upload: '" + uploading_prefix() + "N/" + value("size") +
                                 " Bytes' shows while the image goes");
    if (dialog == nullptr) {
        describe_dialogs(run.process_id);
        return nullptr;
    }
    std::string title = window_text(dialog);
    int bytes = std::atoi(title.c_str() + uploading_prefix().size());
    check(title == uploading_title(bytes) && bytes < std::atoi(value("size").c_str()),
          "upload: caught at '" + title + "'");
    check_centred(dialog, "upload");
    int blocks = std::atoi(value("size").c_str()) / BLOCK_SIZE + 1;
    auto range = static_cast<int>(ask(GetDlgItem(dialog, CONTROL_PROGRESS), PBM_GETRANGE, FALSE));
    check(range == blocks, "upload: the bar counts " + std::to_string(range) + " blocks, want " +
                               std::to_string(blocks));
    screenshot(run, dialog, "uploading");
    return dialog;
}

// The same dialog while the device writes its flash: a bar that fills in about 30 seconds.
bool flash_wait_step(Run& run) {
    std::vector<std::string> titles = {uploading_prefix(), updating_title()};
    HWND dialog = wait_for_dialog_titled(run.process_id, titles, TRANSFER_WAIT_MS);
    check(dialog != nullptr, "upload: the upload dialog shows");
    if (dialog == nullptr) {
        describe_dialogs(run.process_id);
        return false;
    }
    std::string title = window_text(dialog);
    if (title.rfind(uploading_prefix(), 0) == 0) {
        std::printf("     caught the transfer at '%s'\n", title.c_str());
        screenshot(run, dialog, "uploading");
    }
    dialog = wait_for_dialog(run.process_id, nullptr, updating_title().c_str(), TRANSFER_WAIT_MS);
    check(dialog != nullptr, "flash wait: '" + updating_title() + "' shows");
    if (dialog == nullptr) {
        describe_dialogs(run.process_id);
        return false;
    }
    check_centred(dialog, "flash wait");
    int before = progress_position(dialog);
    screenshot(run, dialog, "updating");
    int after = before;
    bool moves = eventually([&] { return (after = progress_position(dialog)) > before; }, 10000);
    check(moves, "flash wait: the bar moves (" + std::to_string(before) + " -> " +
                     std::to_string(after) + ")");
    return true;
}

void success_step(Run& run) {
    HWND dialog = expect_dialog(run, success_title(), "success", FLASH_WAIT_MS);
    if (dialog == nullptr) return;
    check_text(dialog, CONTROL_TEXT_PANEL, text_success, "success");
    check_text(dialog, CONTROL_SOFTWARE_VERSION, value("version"), "success");
    check_centred(dialog, "success");
    check_focus(dialog, CONTROL_OK, "success");
    screenshot(run, dialog, "success");
    close_and_check(dialog, CONTROL_OK, "success");
}

void error_box_step(Run& run, HWND gone_before, const std::string& message) {
    HWND box = expect_dialog(run, ERROR_BOX_TITLE, "error box");
    if (box == nullptr) return;
    if (gone_before != nullptr) {
        check(!IsWindow(gone_before), "error box: the dialog went before the box came");
    }
    screenshot(run, box, "error");
    answer_box(box, message, "error box");
    check(wait_until_gone(box), "error box: closes");
}

// --- The record of every dialog shown ---

struct Shown {
    std::string window, title;
    long left, top, right, bottom;
    int screen_width, screen_height;
};

struct Record {
    std::vector<Shown> shown;
    std::vector<std::pair<std::string, std::string>> titles;  // window, title
};

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

Record read_record(const Run& run) {
    Record record;
    std::FILE* file = std::fopen(run.record_path.c_str(), "r");
    check(file != nullptr, "the window record exists");
    if (file == nullptr) return record;
    char line[1024];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        std::vector<std::string> fields = fields_of(text);
        if (fields.size() == 4 && fields[0] == "show") {
            Shown shown{fields[1], fields[2], 0, 0, 0, 0, 0, 0};
            std::sscanf(fields[3].c_str(), "%ld %ld %ld %ld %d %d", &shown.left, &shown.top,
                        &shown.right, &shown.bottom, &shown.screen_width, &shown.screen_height);
            record.shown.push_back(shown);
        } else if (fields.size() == 3 && fields[0] == "title") {
            record.titles.push_back({fields[1], fields[2]});
        }
    }
    std::fclose(file);
    return record;
}

// The dialogs shown, in order; the dialogs of one group may come in either order (they belong
// to two threads).
using ShowGroups = std::vector<std::vector<std::string>>;

void check_shown(const Record& record, const ShowGroups& groups) {
    std::string seen;
    for (const Shown& shown : record.shown) seen += "\n       '" + shown.title + "'";
    std::size_t next = 0;
    bool same = true;
    for (const std::vector<std::string>& group : groups) {
        if (next + group.size() > record.shown.size()) {
            same = false;
            break;
        }
        std::vector<std::string> wanted = group;
        std::vector<std::string> got;
        for (std::size_t i = 0; i < group.size(); ++i) got.push_back(record.shown[next++].title);
        std::sort(wanted.begin(), wanted.end());
        std::sort(got.begin(), got.end());
        same = same && wanted == got;
    }
    same = same && next == record.shown.size();
    check(same, "record: the dialogs shown, in order:" + seen);
}

// Every dialog of the program centres itself as it opens; the error box is the system's own.
void check_all_centred(const Record& record) {
    for (const Shown& shown : record.shown) {
        if (shown.title == ERROR_BOX_TITLE) continue;
        long width = shown.right - shown.left;
        long height = shown.bottom - shown.top;
        long x = (shown.screen_width - width) >> 1;
        long y = (shown.screen_height - height) >> 1;
        check(shown.left == x && shown.top == y,
              "record: '" + shown.title + "' opened at " + std::to_string(shown.left) + "," +
                  std::to_string(shown.top) + ", centred is " + std::to_string(x) + "," +
                  std::to_string(y));
    }
}

std::vector<std::string> titles_of(const Record& record, const std::string& template_title) {
    std::vector<std::string> titles;
    auto shown = std::find_if(record.shown.begin(), record.shown.end(),
                              [&](const Shown& s) { return s.title == template_title; });
    if (shown == record.shown.end()) return titles;
    for (const auto& [window, title] : record.titles) {
        if (window == shown->window) titles.push_back(title);
    }
    return titles;
}

// The upload dialog's titles: byte counts that rise block by block (while acknowledgements stream
// in the dialog may skip counts, at most a few tens of milliseconds' worth), from none of the
// image; `whole`: up to every byte, then the flash wait; otherwise short of the whole image, where
// the transfer was cancelled.
void check_upload_titles(const Record& record, bool whole) {
    std::vector<std::string> got = titles_of(record, UPLOAD_TEMPLATE_TITLE);
    std::vector<std::string> wanted = upload_titles();
    if (whole) wanted.push_back(updating_title());
    // Each title must come later in the wanted order than the one before it.
    std::size_t next = 0;
    std::size_t bad = got.size();
    for (std::size_t i = 0; i < got.size() && bad == got.size(); ++i) {
        auto at = std::find(wanted.begin() + static_cast<long>(next), wanted.end(), got[i]);
        if (at == wanted.end()) bad = i;
        else next = static_cast<std::size_t>(at - wanted.begin()) + 1;
    }
    std::string where;
    if (bad < got.size()) where = ", but not at " + std::to_string(bad) + ": '" + got[bad] + "'";
    check(bad == got.size(), "record: " + std::to_string(got.size()) + " upload titles rise" + where);
    check(!got.empty() && got.front() == wanted.front(),
          "record: the first upload title is '" + wanted.front() + "'");
    if (whole) {
        std::string full = uploading_title(std::atoi(value("size").c_str()));
        bool ends = got.size() >= 2 && got[got.size() - 2] == full && got.back() == updating_title();
        check(ends, "record: the upload titles end at the full count, then '" + updating_title() +
                        "' (the last '" + (got.empty() ? "(none)" : got.back()) + "')");
    } else {
        check(next < wanted.size(),
              "record: the cancelled upload's titles stop short of the whole image");
    }
}

// --- Scenarios ---

void warning_cancel(Run& run) {
    warning_step(run, CONTROL_CANCEL);
    expect_exit(run, 1);
    check_shown(read_record(run), {{product_title()}});
}

bool through_confirm(Run& run) {
    return warning_step(run, CONTROL_OK) && address_step(run) && password_step(run) &&
           confirm_step(run);
}

ShowGroups shown_to_the_transfer() {
    return {{product_title()}, {product_title()},  {connecting_title()},
            {PASSWORD_TITLE},  {connecting_title()}, {confirm_title()},
            {WAITING_TITLE, connecting_title()}, {UPLOAD_TEMPLATE_TITLE}};
}

// What a whole upgrade shows, every dialog centred, and the upload titles rising to the full count.
void check_whole_upgrade_shown(Run& run) {
    Record record = read_record(run);
    ShowGroups groups = shown_to_the_transfer();
    groups.push_back({connecting_title()});
    groups.push_back({success_title()});
    check_shown(record, groups);
    check_all_centred(record);
    check_upload_titles(record, true);
}

void upgrade(Run& run) {
    if (through_confirm(run) && flash_wait_step(run)) success_step(run);
    expect_exit(run, 0);
    check_whole_upgrade_shown(run);
}

void upload_cancel(Run& run) {
    if (through_confirm(run)) {
        HWND upload = catch_upload(run);
        if (upload != nullptr) {
            click(upload, CONTROL_CANCEL);
            error_box_step(run, upload, "Upgrade Failed: User Abort");
        }
    }
    expect_exit(run, 1);
    Record record = read_record(run);
    ShowGroups groups = shown_to_the_transfer();
    groups.push_back({ERROR_BOX_TITLE});
    check_shown(record, groups);
    check_all_centred(record);
    check_upload_titles(record, false);
}

void no_device(Run& run) {
    if (warning_step(run, CONTROL_OK) && address_step(run)) {
        error_box_step(run, nullptr, "Upgrade Failed: No Response From TEV");
    }
    expect_exit(run, 1);
    Record record = read_record(run);
    check_shown(record, {{product_title()}, {product_title()}, {connecting_title()},
                         {ERROR_BOX_TITLE}});
    check_all_centred(record);
}

// Whether a line of the file holds the text; the program may be writing it meanwhile.
bool file_has(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string content;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        content.append(chunk, got);
    }
    std::fclose(file);
    return content.find(text) != std::string::npos;
}

// The device asks for another file name: the waiting dialog stays. The log names the wrong
// request while the program still waits (each line is written at once); then Cancel.
void wrong_name(Run& run) {
    if (through_confirm(run)) {
        HWND waiting = expect_dialog(run, WAITING_TITLE, "waiting", TRANSFER_WAIT_MS);
        if (waiting != nullptr) {
            bool logged = eventually([] { return file_has(value("log"), value("logline")); },
                                     TRANSFER_WAIT_MS);
            check(logged, "the log says '" + value("logline") + "' while the program waits");
            check(IsWindow(waiting), "waiting: still there");
            screenshot(run, waiting, "waiting");
            click(waiting, CONTROL_CANCEL);
            error_box_step(run, waiting, "Upgrade Failed: User Abort");
        }
    }
    expect_exit(run, 1);
    ShowGroups groups = shown_to_the_transfer();
    groups.back() = {ERROR_BOX_TITLE};  // no upload dialog
    check_shown(read_record(run), groups);
}

// A log that cannot be created: one box that names the path and the reason, and no upgrade.
void log_unwritable(Run& run) {
    error_box_step(run, nullptr, value("box"));
    expect_exit(run, 2);
    check_shown(read_record(run), {{ERROR_BOX_TITLE}});
}

// An unknown option: one box that names it and shows the usage, and no upgrade.
void bad_option(Run& run) {
    HWND box = expect_dialog(run, ERROR_BOX_TITLE, "usage box");
    if (box != nullptr) {
        std::string text;
        for (HWND child : children_of(box)) {
            std::string said = window_text(child);
            if (same_class(class_of(child), "Static") && said.size() > text.size()) text = said;
        }
        check(text.rfind(value("problem") + "\r\n", 0) == 0,
              "usage box: begins with '" + value("problem") + "': '" + visible(text) + "'");
        check(text.find("Usage: tev-upgrade.exe [/device A.B.C.D]") != std::string::npos &&
                  text.find("\r\n/passwordfile FILE: the device's password\r\n") != std::string::npos,
              "usage box: shows the usage with every option");
        screenshot(run, box, "usage");
        click(box, IDOK);
        check(wait_until_gone(box), "usage box: closes");
    }
    expect_exit(run, 2);
    check_shown(read_record(run), {{ERROR_BOX_TITLE}});
    // The same mistake in a batch file's unattended run: with /yes anywhere on the command line
    // the usage box presses its own OK, and nothing waits for a person.
    if (values.count("unattended_options") == 0) return;
    values["options"] = value("unattended_options");
    Run unattended;
    if (!start_upgrader(upgrader_path, &unattended)) return;
    expect_exit(unattended, 2);
    check_shown(read_record(unattended), {{ERROR_BOX_TITLE}});
    if (unattended.program.process.hProcess != nullptr)
        TerminateProcess(unattended.program.process.hProcess, 1);
}

// A device whose nonces last one request: the password is asked once, every later challenge is
// answered without asking (the device side checks that each answer has a client nonce of its
// own), and the upgrade ends as usual.
void fresh_cnonce(Run& run) {
    if (through_confirm(run) && flash_wait_step(run)) success_step(run);
    expect_exit(run, 0);
    Record record = read_record(run);
    check_all_centred(record);
    check_upload_titles(record, true);
}

// The confirm dialog cannot be created: as Cancel there, the user abort, and no upgrade.
void confirm_fails(Run& run) {
    if (warning_step(run, CONTROL_OK) && address_step(run) && password_step(run)) {
        error_box_step(run, nullptr, "Upgrade Failed: User Abort");
    }
    expect_exit(run, 1);
    Record record = read_record(run);
    check_shown(record, {{product_title()}, {product_title()}, {connecting_title()},
                         {PASSWORD_TITLE}, {connecting_title()}, {ERROR_BOX_TITLE}});
    check_all_centred(record);
}

// --- Runs the options answer ---

// With /yes nothing is typed or clicked: every dialog still opens, in the order of a whole
// upgrade, answers itself, and the program ends by itself once the device has the image.
void unattended(Run& run) {
    expect_exit(run, 0, TRANSFER_WAIT_MS + FLASH_WAIT_MS);
    check_whole_upgrade_shown(run);
}

// With /yes and a password the device refuses: the password dialog comes back once, the box says
// why and presses its own OK, and the program ends: nothing is left waiting for a person.
void unattended_refused(Run& run) {
    expect_exit(run, 1, WAIT_MS);
    check_shown(read_record(run), {{product_title()}, {product_title()}, {connecting_title()},
                                   {PASSWORD_TITLE}, {connecting_title()}, {PASSWORD_TITLE},
                                   {ERROR_BOX_TITLE}});
}

// A dialog the answers must leave to the person is still there a while after it came. (A wait
// for something that must not happen; the answers take their turn within a fraction of it.)
void check_left_to_the_person(HWND dialog, const std::string& step) {
    Sleep(1500);
    check(IsWindow(dialog) && IsWindowVisible(dialog), step + ": waits for the person");
}

// Without /yes the options only fill in the dialogs: the address, the user and the password are
// there, and every button is the person's. Cancel in the confirmation ends the run.
void options_fill(Run& run) {
    HWND warning = expect_dialog(run, product_title(), "warning");
    if (warning == nullptr) return;
    check_left_to_the_person(warning, "warning");
    close_and_check(warning, CONTROL_OK, "warning");
    HWND address = expect_dialog(run, product_title(), "address");
    if (address == nullptr) return;
    HWND control = GetDlgItem(address, CONTROL_DEVICE_ADDRESS);
    std::string shown;
    bool filled = eventually([&] { return (shown = address_shown(control)) == value("device"); });
    check(filled, "address: filled in from /device, the control shows " + shown);
    check_left_to_the_person(address, "address");
    screenshot(run, address, "address-filled");
    close_and_check(address, CONTROL_OK, "address");
    HWND password = expect_dialog(run, PASSWORD_TITLE, "password");
    if (password == nullptr) return;
    check_text(password, CONTROL_USER_NAME, value("user"), "password, filled in from --user");
    auto length = static_cast<LRESULT>(value("password").size());
    check(ask(GetDlgItem(password, CONTROL_PASSWORD), WM_GETTEXTLENGTH) == length,
          "password: " + std::to_string(length) + " characters from the password file");
    check_left_to_the_person(password, "password");
    screenshot(run, password, "password-filled");
    close_and_check(password, CONTROL_OK, "password");
    HWND confirm = expect_dialog(run, confirm_title(), "confirm");
    if (confirm == nullptr) return;
    check_text(confirm, CONTROL_SOFTWARE_VERSION, value("software"), "confirm");
    check_left_to_the_person(confirm, "confirm");
    close_and_check(confirm, CONTROL_CANCEL, "confirm");
    error_box_step(run, nullptr, "Upgrade Failed: User Abort");
    expect_exit(run, 1);
}

// For the transfer benchmark: a device without a password whose own client does not fetch; the
// benchmark's client fetches the image once the device has the order. Over when the transfer is.
void serve(Run& run) {
    if (warning_step(run, CONTROL_OK) && address_step(run) && confirm_step(run)) {
        HWND dialog = wait_for_dialog(run.process_id, nullptr, updating_title().c_str(),
                                      TRANSFER_WAIT_MS);
        check(dialog != nullptr, "serve: the transfer ends");
    }
}

// --- The list window over several devices ---
// Values: devices (the addresses, blank-separated, in the file's order), current (the one already
// at the image's version), refusing (the one that refuses the password), other (the one of a
// model no image is for), saved (where Save Report writes).

constexpr int IMAGE_COLUMN = 4;
constexpr int STATE_COLUMN = 5;

std::string list_title() {
    std::vector<std::string> devices = split_words(value("devices"));
    return value("label") + " Firmware Upgrade: " + std::to_string(devices.size()) + " Devices";
}

// What each row says after the check and at the end of the upgrade.
std::string checked_state(const std::string& address) {
    if (address == value_or_none("current")) return "current";
    if (address == value_or_none("refusing")) return "failed: wrong password";
    if (address == value_or_none("other")) return "other model";
    return "needs upgrade";
}

std::string ended_state(const std::string& address) {
    std::string checked = checked_state(address);
    return checked == "needs upgrade" ? "verified" : checked;
}

std::vector<std::string> row_states(HWND list) {
    std::vector<std::string> states;
    auto count = static_cast<int>(ask(list, LVM_GETITEMCOUNT));
    for (int row = 0; row < count; ++row) states.push_back(list_view_text(list, row, STATE_COLUMN));
    return states;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts) all += (all.empty() ? "'" : ", '") + text + "'";
    return all;
}

// Waits until every row says what `wanted` gives for its address.
bool rows_say(HWND list, std::string (*wanted)(const std::string&), const std::string& step,
              DWORD wait_ms) {
    std::vector<std::string> want;
    for (const std::string& address : split_words(value("devices"))) want.push_back(wanted(address));
    std::vector<std::string> got;
    bool same = eventually([&] { return (got = row_states(list)) == want; }, wait_ms);
    check(same, step + ": the rows say " + joined(got) + ", want " + joined(want));
    return same;
}

bool any_row_starts(HWND list, const std::string& prefix) {
    for (const std::string& state : row_states(list)) {
        if (state.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool shown_now(HWND window, int id) { return IsWindowVisible(GetDlgItem(window, id)) != FALSE; }

// The window, its columns and rows, and the check that fills them.
HWND list_window_checked(Run& run, bool asks_password) {
    HWND window = expect_dialog(run, list_title(), "list window");
    if (window == nullptr) return nullptr;
    HWND list = GetDlgItem(window, CONTROL_LIST_ROWS);
    HWND header = reinterpret_cast<HWND>(ask(list, LVM_GETHEADER));
    check(ask(header, HDM_GETITEMCOUNT) == 6, "list window: six columns");
    check(ask(list, LVM_GETITEMCOUNT) ==
              static_cast<LRESULT>(split_words(value("devices")).size()),
          "list window: a row per device");
    if (asks_password && !password_step(run)) return nullptr;
    if (!rows_say(list, checked_state, "check", TRANSFER_WAIT_MS)) return nullptr;
    check(list_view_text(list, 0, 1) == value("product") &&
              list_view_text(list, 0, 2) == value("software"),
          "check: the first row reads product '" + list_view_text(list, 0, 1) + "', version '" +
              list_view_text(list, 0, 2) + "'");
    return window;
}

// Upgrade N Devices, then the warning once.
bool start_list_upgrade(Run& run, HWND window, const std::string& button_text) {
    // The rows may say their ends a moment before the check's last child is reaped.
    check(eventually([&] { return shown_now(window, CONTROL_LIST_UPGRADE); }),
          "upgrade button: shows once the check has ended");
    check_text(window, CONTROL_LIST_UPGRADE, button_text, "upgrade button");
    screenshot(run, window, "checked");
    click(window, CONTROL_LIST_UPGRADE);
    return warning_step(run, CONTROL_OK);
}

// Save Report...: the system's save dialog, the file's name typed in, Save.
void save_list_report(Run& run, HWND window) {
    click(window, CONTROL_LIST_SAVE);
    HWND save = wait_for_dialog(run.process_id, window, "Save Report");
    check(save != nullptr, "save report: the save dialog shows");
    if (save == nullptr) return describe_dialogs(run.process_id);
    constexpr int FILE_NAME_COMBO = 0x47c;  // cmb13, and edt1 in the older dialog
    constexpr int FILE_NAME_EDIT = 0x480;
    HWND name = GetDlgItem(save, FILE_NAME_COMBO);
    if (name == nullptr) name = GetDlgItem(save, FILE_NAME_EDIT);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value("saved").c_str()));
    click(save, IDOK);
    check(wait_until_gone(save), "save report: the dialog closes");
    check(eventually([] { return file_has(value("saved"), value("current")); }),
          "save report: " + value("saved") + " holds the rows");
}

// Run Failed Again after a refused password: the dialog again, with the user given before and
// no password (the refused one is not sent again), the password typed anew.
bool password_again_step(Run& run) {
    HWND dialog = expect_dialog(run, PASSWORD_TITLE, "password again");
    if (dialog == nullptr) return false;
    check_text(dialog, CONTROL_USER_NAME, value("user"), "password again: the user given before");
    HWND password = GetDlgItem(dialog, CONTROL_PASSWORD);
    check(window_text(password).empty(), "password again: no password filled in");
    check_focus(dialog, CONTROL_PASSWORD, "password again");
    type_text(dialog, value("password"));
    auto length = static_cast<LRESULT>(value("password").size());
    check(eventually([&] { return ask(password, WM_GETTEXTLENGTH) == length; }),
          "password again: " + std::to_string(length) + " characters typed");
    close_and_check(dialog, CONTROL_OK, "password again");
    return true;
}

// No dialog of the single-device run is ever shown, by the window or by any child: the
// password dialog (twice when it is asked again) and the warning come at most once each, from
// the window.
void check_no_device_dialog_shown(Run& run, int passwords_asked = 1) {
    Record record = read_record(run);
    int passwords = 0, warnings = 0;
    std::string device_dialogs;
    for (const Shown& shown : record.shown) {
        if (shown.title == PASSWORD_TITLE) ++passwords;
        else if (shown.title == product_title()) ++warnings;
        for (const std::string& prefix : {std::string("Connecting with TEV@"),
                                          std::string("Uploading"), std::string("Updating"),
                                          std::string(WAITING_TITLE), std::string("Confirm Upgrade"),
                                          std::string("TEV@"), std::string(ERROR_BOX_TITLE)}) {
            if (shown.title.rfind(prefix, 0) == 0) device_dialogs += " '" + shown.title + "'";
        }
    }
    check(device_dialogs.empty(), "record: no device's dialog shown" + device_dialogs);
    check(passwords <= passwords_asked && warnings <= 1,
          "record: the password dialog at most " + std::to_string(passwords_asked) +
              " times, the warning at most once");
}

// The whole flow: the check (the password asked once), Upgrade, the ends, Run Failed Again, Save
// Report, Close.
void list_window(Run& run) {
    HWND window = list_window_checked(run, true);
    if (window == nullptr || !start_list_upgrade(run, window, "Upgrade 2 Devices")) return;
    HWND list = GetDlgItem(window, CONTROL_LIST_ROWS);
    if (eventually([&] { return any_row_starts(list, "uploading"); }, TRANSFER_WAIT_MS)) {
        screenshot(run, window, "uploading");
    }
    if (!rows_say(list, ended_state, "upgrade", TRANSFER_WAIT_MS + FLASH_WAIT_MS)) return;
    check(list_view_text(list, 0, 3) == value("version"),
          "upgrade: the first row's version after is '" + list_view_text(list, 0, 3) + "'");
    screenshot(run, window, "ended");
    check(shown_now(window, CONTROL_LIST_RETRY), "Run Failed Again shows");
    click(window, CONTROL_LIST_RETRY);
    password_again_step(run);
    bool rerun = eventually([&] { return shown_now(window, CONTROL_LIST_STOP); }, 5000) ||
                 !any_row_starts(list, "failed");
    check(rerun, "Run Failed Again: the failed row runs again");
    eventually([&] { return shown_now(window, CONTROL_LIST_CLOSE); }, TRANSFER_WAIT_MS);
    rows_say(list, ended_state, "run failed again", TRANSFER_WAIT_MS);
    save_list_report(run, window);
    click(window, CONTROL_LIST_CLOSE);
    expect_exit(run, 1);
    check_no_device_dialog_shown(run, 2);
}

// Stop while one device's image goes: it presses its Cancel, the device not yet started stays so,
// and no child is left.
void list_window_stop(Run& run) {
    HWND window = list_window_checked(run, false);
    if (window == nullptr || !start_list_upgrade(run, window, "Upgrade 2 Devices")) return;
    HWND list = GetDlgItem(window, CONTROL_LIST_ROWS);
    bool uploading = eventually([&] { return any_row_starts(list, "uploading"); }, TRANSFER_WAIT_MS);
    check(uploading, "stop: a row uploads");
    if (!uploading) return;
    check(count_processes("tev-upgrade.exe") >= 2, "stop: the device's child runs");
    screenshot(run, window, "before-stop");
    DWORD clicked = GetTickCount();
    click(window, CONTROL_LIST_STOP);
    std::vector<std::string> want = {"failed: cancelled", "not started", "current",
                                     "failed: wrong password"};
    std::vector<std::string> got;
    bool stopped = eventually([&] { return (got = row_states(list)) == want; }, 20000);
    DWORD took = GetTickCount() - clicked;
    check(stopped, "stop: the rows say " + joined(got) + " after " + std::to_string(took) + " ms");
    check(eventually([] { return count_processes("tev-upgrade.exe") == 1; }, 10000),
          "stop: no child left (" + std::to_string(count_processes("tev-upgrade.exe")) +
              " tev-upgrade.exe)");
    click(window, CONTROL_LIST_CLOSE);
    expect_exit(run, 1);
    check_no_device_dialog_shown(run);
}

// An adapter and a handset the program has no image for: the handset is left alone after the
// check (no Upgrade for it, no command), the adapter's row names the image it got, and the run
// ends 1, since one device was not done.
void list_window_models(Run& run) {
    HWND window = list_window_checked(run, false);
    if (window == nullptr || !start_list_upgrade(run, window, "Upgrade 1 Device")) return;
    HWND list = GetDlgItem(window, CONTROL_LIST_ROWS);
    if (!rows_say(list, ended_state, "upgrade", TRANSFER_WAIT_MS + FLASH_WAIT_MS)) return;
    std::string image = value("label") + " " + value("version");
    check(list_view_text(list, 0, IMAGE_COLUMN) == image,
          "upgrade: the adapter's image is '" + list_view_text(list, 0, IMAGE_COLUMN) + "'");
    check(list_view_text(list, 1, IMAGE_COLUMN).empty(),
          "upgrade: the handset got no image, its cell says '" + list_view_text(list, 1, IMAGE_COLUMN) + "'");
    screenshot(run, window, "ended");
    check(!shown_now(window, CONTROL_LIST_RETRY), "Run Failed Again does not show: none failed");
    click(window, CONTROL_LIST_CLOSE);
    expect_exit(run, 1);
    check_no_device_dialog_shown(run);
}

// /yes: the check, the upgrade and the end without a click.
void list_window_unattended(Run& run) {
    expect_exit(run, 1, TRANSFER_WAIT_MS + FLASH_WAIT_MS);
    check_no_device_dialog_shown(run);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: upgrade-driver UPGRADER.EXE RECORDER.DLL OUTPUT-FOLDER "
                     "warning-cancel|upgrade|upload-cancel|no-device|log-unwritable|bad-option|"
                     "wrong-name|two-addresses|fresh-cnonce|confirm-fails|unattended|"
                     "unattended-refused|options-fill|list-window|list-stop|list-unattended|list-models|serve "
                     "NAME=VALUE...\n");
        return 2;
    }
    output_folder = argv[3];
    scenario = argv[4];
    for (int i = 5; i < argc; ++i) {
        std::string pair = argv[i];
        std::size_t equals = pair.find('=');
        if (equals != std::string::npos) values[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    void (*run_scenario)(Run&) = nullptr;
    if (scenario == "warning-cancel") run_scenario = warning_cancel;
    if (scenario == "upgrade") run_scenario = upgrade;
    if (scenario == "upload-cancel") run_scenario = upload_cancel;
    if (scenario == "no-device") run_scenario = no_device;
    if (scenario == "log-unwritable") run_scenario = log_unwritable;
    if (scenario == "bad-option") run_scenario = bad_option;
    if (scenario == "wrong-name") run_scenario = wrong_name;
    // The user's steps are those of a whole upgrade; the device's side differs.
    if (scenario == "two-addresses") run_scenario = upgrade;
    if (scenario == "fresh-cnonce") run_scenario = fresh_cnonce;
    if (scenario == "confirm-fails") run_scenario = confirm_fails;
    if (scenario == "serve") run_scenario = serve;
    if (scenario == "unattended") run_scenario = unattended;
    if (scenario == "unattended-refused") run_scenario = unattended_refused;
    if (scenario == "options-fill") run_scenario = options_fill;
    if (scenario == "list-window") run_scenario = list_window;
    if (scenario == "list-stop") run_scenario = list_window_stop;
    if (scenario == "list-unattended") run_scenario = list_window_unattended;
    if (scenario == "list-models") run_scenario = list_window_models;
    if (run_scenario == nullptr) {
        std::fprintf(stderr, "upgrade-driver: unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    CreateDirectoryA(output_folder.c_str(), nullptr);
    Run run;
    bool hooked = install_recorder(argv[2]);
    if (scenario == "confirm-fails") hooked = hooked && refuse_confirm_dialog(argv[2]);
    upgrader_path = argv[1];
    if (hooked && start_upgrader(upgrader_path, &run)) {
        run_scenario(run);
    }
    if (run.program.process.hProcess != nullptr) TerminateProcess(run.program.process.hProcess, 1);
    std::printf("%d failure(s)\n", failure_count());
    return failure_count() == 0 ? 0 : 1;
}
