// dialog-driver: opens the upgrader's dialogs through dialog-gallery (under Wine, on a private X
// server) and checks the live windows from the outside, as a user's tools would see them: each
// control's id, class, style and caption against the template table, the titles and texts the
// procedures set, the centring, the focus, and what Enter, the buttons and the close box do.
//   dialog-driver GALLERY.EXE OUTPUT-FOLDER templates|behaviour
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver_support.h"
#include "res/dialog_ids.h"
#include "res/dialog_templates.h"
#include "res/dialog_texts.h"

namespace {

std::string gallery_path;
std::string output_folder;

// --- The gallery as a process ---

struct Gallery {
    Program program;
    std::string result_file;
};

bool start_gallery(const std::string& name, const std::string& arguments, Gallery* gallery) {
    gallery->result_file = output_folder + "\\" + name + ".result";
    DeleteFileA(gallery->result_file.c_str());
    return start_program(
        "\"" + gallery_path + "\" " + arguments + " --result \"" + gallery->result_file + "\"",
        &gallery->program, name + ": gallery");
}

// A visible dialog window of the gallery with that owner (and title, when given).
HWND wait_for_window(const Gallery& gallery, HWND owner, const char* title) {
    return wait_for_dialog(gallery.program.process.dwProcessId, owner, title);
}

void kill_gallery(const Gallery& gallery) { TerminateProcess(gallery.program.process.hProcess, 1); }

// The value of "name: value" in the gallery's result file; "(none)" without a file.
std::string result_value(const Gallery& gallery, const std::string& name) {
    std::FILE* file = std::fopen(gallery.result_file.c_str(), "r");
    if (file == nullptr) return "(none)";
    char line[512];
    std::string value = "(missing)";
    while (std::fgets(line, sizeof line, file) != nullptr) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.rfind(name + ": ", 0) == 0) value = text.substr(name.size() + 2);
    }
    std::fclose(file);
    return value;
}

void expect_outcome(Gallery& gallery, const std::string& name, const std::string& outcome) {
    DWORD status = 1;
    bool ended = wait_for_exit(&gallery.program, &status);
    check(ended && status == 0, name + ": gallery ended with status 0");
    std::string seen = result_value(gallery, "outcome");
    check(seen == outcome, name + ": outcome '" + seen + "', want '" + outcome + "'");
}

// --- Looking at a dialog ---

// What the system does to a template's styles when it makes the windows, and nothing more is
// accepted: the dialog becomes visible, clips its siblings and takes the 3-D look; a bordered
// edit trades its border for a sunken client edge; a progress bar takes its border off its style
// and draws it; a drop-down list hands its vertical scroll bar to the list it opens.
bool dialog_style_matches(DWORD template_style, HWND dialog) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    return style == (template_style | WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK);
}

bool style_matches(const ControlTemplate& control, HWND window) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    DWORD extended = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
    if (style == control.style) return true;
    DWORD moved = 0;
    DWORD edge = 0;
    if (control.control_class == ControlClass::EDIT) {
        moved = WS_BORDER;
        edge = WS_EX_CLIENTEDGE;
    } else if (control.control_class == ControlClass::PROGRESS) {
        moved = WS_BORDER;  // the bar draws that frame itself
    } else if (control.control_class == ControlClass::COMBOBOX) {
        moved = WS_VSCROLL;
    }
    bool edge_ok = edge == 0 || (extended & edge) != 0;
    return moved != 0 && (control.style & moved) != 0 && style == (control.style & ~moved) &&
           edge_ok;
}

void check_controls(HWND dialog, const DialogTemplate& layout, const std::string& name) {
    std::vector<HWND> children = children_of(dialog);
    check(static_cast<int>(children.size()) == layout.control_count,
          name + ": " + std::to_string(children.size()) + " controls, template has " +
              std::to_string(layout.control_count));
    for (std::size_t i = 0;
         i < children.size() && i < static_cast<std::size_t>(layout.control_count); ++i) {
        const ControlTemplate& control = layout.controls[i];
        HWND window = children[i];
        std::string where =
            name + " control " + std::to_string(i) + " (id " + std::to_string(control.id) + ")";
        int id = GetDlgCtrlID(window);
        check(id == (control.id & 0xFFFF), where + ": id " + std::to_string(id));
        std::string window_class = class_of(window);
        check(same_class(window_class, control_class_name(control.control_class)),
              where + ": class " + window_class);
        check(style_matches(control, window),
              where + ": style " + hex(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE))) +
                  " (extended " + hex(static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE))) +
                  "), template " + hex(control.style));
        bool shows_caption = control.control_class == ControlClass::BUTTON ||
                             control.control_class == ControlClass::PROGRESS ||
                             (control.control_class == ControlClass::STATIC &&
                              control.caption != nullptr && control.id == CONTROL_UNADDRESSED);
        if (shows_caption) {
            std::string caption = window_text(window);
            check(caption == control.caption, where + ": caption '" + caption + "'");
        }
        if (control.caption == nullptr) {
            check(ask(window, STM_GETICON) != 0,
                  where + ": shows icon " + std::to_string(control.icon));
        }
    }
}

// --- The dialogs one by one ---

struct DialogCase {
    int id;
    std::string arguments;
    std::string title;
    std::vector<std::pair<int, std::string>> texts;
    int focus;           // control that must have the focus when it opens, 0: not checked
    int progress_range;  // upper end of the progress bar, 0: no bar
};

std::string confirm_note(const char* transition_version) {
    return std::string(text_confirm_intro) +
           "\r\n\r\nNote: Since your current firmware version\r\nis older than " +
           transition_version +
           ", this upgrade procedure\r\nrequires additional steps and will be\r\nslightly "
           "longer.\r\n";
}

const std::string DEVICE =
    " --serial SN-0042 --mac 00:0A:0B:0C:0D:0E --software 3.1.7"
    " --hardware HW2 --product TEV-4400";

std::vector<DialogCase> dialog_cases() {
    std::vector<std::pair<int, std::string>> device_texts = {
        {CONTROL_SERIAL_NUMBER, "SN-0042"},
        {CONTROL_MAC_ADDRESS, "00:0A:0B:0C:0D:0E"},
        {CONTROL_SOFTWARE_VERSION, "3.1.7"},
        {CONTROL_HARDWARE_VERSION, "HW2"},
        {CONTROL_PRODUCT_NAME, "TEV-4400"}};
    auto confirm_texts = [&](const std::string& panel) {
        auto texts = device_texts;
        texts.push_back({CONTROL_TEXT_PANEL, panel});
        return texts;
    };
    return {
        {DIALOG_WARNING,
         "139 --label TEV-4400",
         "TEV-4400 Firmware Upgrade",
         {{CONTROL_WARNING_TEXT, text_warning}},
         CONTROL_CANCEL,
         0},
        {DIALOG_ADDRESS_ADAPTER,
         "101 --label TEV-4000/4200 --local 192.168.0.10,10.1.0.5,0.0.0.0,172.16.0.1",
         "TEV-4000/4200 Firmware Upgrade",
         {{CONTROL_TEXT_PANEL, text_address_intro},
          {CONTROL_ADDRESS_HELP, text_address_help_adapter},
          {CONTROL_IMAGE_VERSION, "Version 3.2.9(b)"},
          {CONTROL_LOCAL_ADDRESS_LIST, "192.168.0.10"}},
         CONTROL_DEVICE_ADDRESS,
         0},
        {DIALOG_ADDRESS_PHONE,
         "305 --phone --label TEV-610 --version 2.0.1",
         "TEV-610 Firmware Upgrade",
         {{CONTROL_TEXT_PANEL, text_address_intro},
          {CONTROL_ADDRESS_HELP, text_address_help_phone},
          {CONTROL_IMAGE_VERSION, "Version 2.0.1"}},
         CONTROL_DEVICE_ADDRESS,
         0},
        {DIALOG_PASSWORD,
         "104 --user bob --password old",
         "Enter Password Information",
         {{CONTROL_TEXT_PANEL, text_password_notice},
          {CONTROL_USER_NAME, "admin"},
          {CONTROL_PASSWORD, ""}},
         CONTROL_PASSWORD,
         0},
        {DIALOG_CONNECTING,
         "105 --device-ip-text 10.1.0.123",
         "Connecting with TEV@10.1.0.123",
         {},
         0,
         100},
        {DIALOG_CONFIRM, "103" + DEVICE, "Confirm Upgrade to Ver. 3.2.9(b)",
         confirm_texts(text_confirm_intro), CONTROL_OK, 0},
        {DIALOG_CONFIRM_TRANSITION, "304 --stage 0 --transition-version 3.1.0" + DEVICE,
         "Confirm Upgrade to Ver. 3.2.9(b)", confirm_texts(confirm_note("3.1.0")), CONTROL_OK, 0},
        {DIALOG_WAITING,
         "114",
         "Waiting For Firmware Download Request From TEV",
         {{CONTROL_WAITING_TEXT, text_waiting}},
         0,
         1000},
        {DIALOG_UPLOAD,
         "110 --range 1854 --position 927",
         "Uploading Firmware To TEV",
         {},
         0,
         1854},
        {DIALOG_SUCCESS,
         "111 --device-ip-text 10.1.0.123 --software 3.2.9(b)",
         "TEV@10.1.0.123 Upgrade Successful!",
         {{CONTROL_TEXT_PANEL, text_success}, {CONTROL_SOFTWARE_VERSION, "3.2.9(b)"}},
         CONTROL_OK,
         0},
    };
}

bool is_modeless(int id) {
    return id == DIALOG_CONNECTING || id == DIALOG_WAITING || id == DIALOG_UPLOAD;
}

// Cancel in a modeless dialog: the dialog goes first, then the error box, then the program ends.
void check_abort(Gallery& gallery, HWND dialog, const std::string& name) {
    click(dialog, CONTROL_CANCEL);
    HWND box = wait_for_window(gallery, nullptr, ERROR_BOX_TITLE);
    check(box != nullptr, name + ": Cancel shows the error box");
    if (box == nullptr) return;
    check(!IsWindow(dialog), name + ": the dialog is gone while the box shows");
    answer_box(box, "Upgrade Failed: User Abort", name);
    // The exit status tells the outcome, in the gallery as in the program: the abort is a failure.
    DWORD status = 0;
    check(wait_for_exit(&gallery.program, &status) && status == 1,
          name + ": the program ends with status 1 (it ended with " + std::to_string(status) +
              ")");
    check(result_value(gallery, "outcome") == "(none)", name + ": and without going on");
}

void check_dialog(const DialogCase& item) {
    std::string name = "dialog " + std::to_string(item.id);
    Gallery gallery;
    if (!start_gallery("dialog-" + std::to_string(item.id), item.arguments, &gallery)) return;
    HWND dialog = wait_for_window(gallery, nullptr, nullptr);
    check(dialog != nullptr, name + ": opens");
    if (dialog == nullptr) {
        kill_gallery(gallery);
        return;
    }
    save_screenshot(dialog, output_folder, "dialog-" + std::to_string(item.id));
    const DialogTemplate& layout = *find_dialog_template(item.id);
    std::string title = window_text(dialog);
    check(title == item.title, name + ": title '" + title + "'");
    check(dialog_style_matches(layout.style, dialog),
          name + ": style " + hex(static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE))) +
              ", template " + hex(layout.style));
    check_controls(dialog, layout, name);
    for (const auto& [id, text] : item.texts) check_text(dialog, id, text, name);
    check_centred(dialog, name);
    if (item.focus != 0) check_focus(dialog, item.focus, name);
    if (item.progress_range != 0) {
        LRESULT high = ask(GetDlgItem(dialog, CONTROL_PROGRESS), PBM_GETRANGE, FALSE, 0);
        check(high == item.progress_range, name + ": progress range up to " + std::to_string(high));
    }
    if (is_modeless(item.id)) {
        check_abort(gallery, dialog, name);
    } else if (item.id == DIALOG_SUCCESS) {
        PostMessageA(dialog, WM_CLOSE, 0, 0);  // the close box; there is no Cancel button
        expect_outcome(gallery, name, "end code 0");
    } else {
        click(dialog, CONTROL_CANCEL);
        expect_outcome(gallery, name, "end code 0");
    }
}

// --- What the buttons and keys do ---

HWND open_dialog(const std::string& name, const std::string& arguments, Gallery* gallery) {
    if (!start_gallery(name, arguments, gallery)) return nullptr;
    HWND dialog = wait_for_window(*gallery, nullptr, nullptr);
    check(dialog != nullptr, name + ": opens");
    if (dialog == nullptr) kill_gallery(*gallery);
    return dialog;
}

void enter_in_warning_chooses_cancel() {
    Gallery gallery;
    HWND dialog = open_dialog("warning-enter", "139", &gallery);
    if (dialog == nullptr) return;
    press_key(dialog, VK_RETURN);
    expect_outcome(gallery, "warning dialog, Enter", "end code 0");
}

// The same key where the default button is Upgrade: so the key does arrive, and it is the
// warning dialog that turns it into Cancel.
void enter_in_confirm_chooses_upgrade() {
    Gallery gallery;
    HWND dialog = open_dialog("confirm-enter", "103", &gallery);
    if (dialog == nullptr) return;
    press_key(dialog, VK_RETURN);
    expect_outcome(gallery, "confirm dialog, Enter", "end code 1");
}

void continue_in_warning_goes_on() {
    Gallery gallery;
    HWND dialog = open_dialog("warning-continue", "139", &gallery);
    if (dialog == nullptr) return;
    click(dialog, CONTROL_OK);
    expect_outcome(gallery, "warning dialog, Continue", "end code 1");
}

void address_refused_then_accepted() {
    const std::string name = "address dialog";
    Gallery gallery;
    HWND dialog = open_dialog("address", "101 --stage 1 --local 192.168.0.10,10.1.0.5", &gallery);
    if (dialog == nullptr) return;
    click(dialog, CONTROL_OK);  // the address control is empty: 0.0.0.0
    HWND box = wait_for_window(gallery, dialog, "Error");
    check(box != nullptr, name + ": OK with no address shows 'Error' owned by the dialog");
    if (box == nullptr) {
        kill_gallery(gallery);
        return;
    }
    save_screenshot(box, output_folder, "address-invalid");
    answer_box(box, "Invalid IP Address", name);
    wait_until_gone(box);
    Sleep(200);
    check(IsWindowVisible(dialog), name + ": stays open after the box");
    check_focus(dialog, CONTROL_DEVICE_ADDRESS, name + " after the box");

    ask(GetDlgItem(dialog, CONTROL_DEVICE_ADDRESS), IPM_SETADDRESS, 0,
        MAKEIPADDRESS(10, 1, 0, 123));
    ask(GetDlgItem(dialog, CONTROL_LOCAL_ADDRESS_LIST), CB_SETCURSEL, 1, 0);
    click(dialog, CONTROL_OK);
    expect_outcome(gallery, name + ", OK with 10.1.0.123", "end code 1");
    check(result_value(gallery, "device_ip") == "0a01007b", name + ": device_ip 0a01007b");
    check(result_value(gallery, "device_ip_text") == "10.1.0.123", name + ": device_ip_text");
    check(result_value(gallery, "local_ip") == "0a010005", name + ": local_ip is the second entry");
    std::string file_name = result_value(gallery, "tftp_file_name");
    bool shaped = file_name.rfind("/tev", 0) == 0 && file_name.size() > 8 &&
                  file_name.compare(file_name.size() - 4, 4, ".bi1") == 0;
    check(shaped, name + ": file name " + file_name);
}

void password_stored_on_ok_kept_on_cancel() {
    Gallery gallery;
    HWND dialog = open_dialog("password-ok", "104 --user bob --password old", &gallery);
    if (dialog != nullptr) {
        ask(GetDlgItem(dialog, CONTROL_USER_NAME), WM_SETTEXT, 0,
            reinterpret_cast<LPARAM>("operator"));
        ask(GetDlgItem(dialog, CONTROL_PASSWORD), WM_SETTEXT, 0,
            reinterpret_cast<LPARAM>("s3cret"));
        click(dialog, CONTROL_OK);
        expect_outcome(gallery, "password dialog, OK", "end code 1");
        check(result_value(gallery, "user_name") == "operator",
              "password dialog: user name stored");
        check(result_value(gallery, "password") == "s3cret", "password dialog: password stored");
    }
    Gallery cancelled;
    dialog = open_dialog("password-cancel", "104 --user bob --password old", &cancelled);
    if (dialog == nullptr) return;
    ask(GetDlgItem(dialog, CONTROL_PASSWORD), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed"));
    click(dialog, CONTROL_CANCEL);
    expect_outcome(cancelled, "password dialog, Cancel", "end code 0");
    check(result_value(cancelled, "user_name") == "bob" &&
              result_value(cancelled, "password") == "old",
          "password dialog: Cancel keeps the stored credentials");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: dialog-driver GALLERY.EXE OUTPUT-FOLDER templates|behaviour\n");
        return 2;
    }
    gallery_path = argv[1];
    output_folder = argv[2];
    CreateDirectoryA(output_folder.c_str(), nullptr);
    std::string group = argv[3];
    if (group == "templates") {
        for (const DialogCase& item : dialog_cases()) check_dialog(item);
    } else if (group == "behaviour") {
        enter_in_warning_chooses_cancel();
        enter_in_confirm_chooses_upgrade();
        continue_in_warning_goes_on();
        address_refused_then_accepted();
        password_stored_on_ok_kept_on_cancel();
    } else {
        std::fprintf(stderr, "unknown group %s\n", group.c_str());
        return 2;
    }
    std::printf("%d failure(s)\n", failure_count());
    return failure_count() == 0 ? 0 : 1;
}
