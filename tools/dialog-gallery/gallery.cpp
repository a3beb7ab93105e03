// dialog-gallery: opens any one of the upgrader's dialogs with a chosen state, so each can be
// looked at, and checked by tests, on its own. A modal dialog reports its end code and the state
// its procedure left; a modeless one stays until its Cancel ends the program (or --hold-ms).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "res/dialog_ids.h"
#include "res/dialog_texts.h"
#include "ui/dialog_procs.h"
#include "ui/ipv4_parse.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/posix/embedded_resources.h"
// The gallery carries no firmware image: the version it shows is given on the command line.
const EmbeddedResource* embedded_resources(int* count) {
    *count = 0;
    return nullptr;
}
#endif

namespace {

const char* const USAGE =
    "usage: dialog-gallery DIALOG [options]\n"
    "  DIALOG: 139 101 305 104 105 103 304 114 110 111\n"
    "  --label TEXT               product label (TEV-4400)\n"
    "  --phone                    the image is for the handset model\n"
    "  --stage N                  0 transition, 1 target (1)\n"
    "  --version TEXT             target image version (3.2.9(b))\n"
    "  --transition-version TEXT  transition image version (3.1.0)\n"
    "  --device-ip-text TEXT      the device address as typed (10.1.0.123)\n"
    "  --local A.B.C.D,...        local addresses, 0.0.0.0 allowed (192.168.0.10)\n"
    "  --product --mac --software --hardware --serial TEXT   device information\n"
    "  --user TEXT --password TEXT  credentials already stored\n"
    "  --seed N                   seed of the pseudo-random generator (1)\n"
    "  --title TEXT               title given to a modeless dialog after it opens\n"
    "  --range N --position N     progress bar of a modeless dialog\n"
    "  --run-ms N                 move the progress bar from 0 to its range over N ms\n"
    "  --hold-ms N                close a modeless dialog after N ms (0: only Cancel ends it)\n"
    "  --empty-text               dialog 114 as created again, without its text\n"
    "  --trace                    print the trace hook's texts on standard error\n"
    "  --result FILE              also write the outcome to FILE\n";

struct GalleryOptions {
    int dialog = 0;
    const char* title = nullptr;
    int range = -1;
    int position = 0;
    int run_ms = 0;
    int hold_ms = 0;
    bool empty_text = false;
    const char* result_file = nullptr;
};

void copy_text(char* out, std::size_t size, const char* text) {
    std::snprintf(out, size, "%s", text);
}

void set_image_version(FirmwareImage* image, const char* version) {
    std::memset(image->header, 0, sizeof image->header);
    std::snprintf(reinterpret_cast<char*>(image->header + IMAGE_VERSION_OFFSET),
                  IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET, "%s", version);
}

bool set_local_addresses(const char* list) {
    std::memset(upgrade_state.local_addresses, 0, sizeof upgrade_state.local_addresses);
    std::string rest = list;
    for (int i = 0; i < LOCAL_ADDRESS_COUNT && !rest.empty(); ++i) {
        std::size_t comma = rest.find(',');
        std::string entry = rest.substr(0, comma);
        rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
        if (parse_ipv4_text(entry.c_str(), &upgrade_state.local_addresses[i]) != IPV4_OK) {
            return false;
        }
    }
    upgrade_state.local_ip = upgrade_state.local_addresses[0];
    return true;
}

void print_trace(const char* format, va_list arguments) {
    std::vfprintf(stderr, format, arguments);
}

void set_defaults() {
    copy_text(upgrade_state.product_label, PRODUCT_LABEL_SIZE, "TEV-4400");
    upgrade_state.stage = STAGE_TARGET;
    set_image_version(&upgrade_state.target_image, "3.2.9(b)");
    set_image_version(&upgrade_state.transition_image, "3.1.0");
    copy_text(upgrade_state.device_ip_text, DEVICE_IP_TEXT_SIZE, "10.1.0.123");
    set_local_addresses("192.168.0.10");
    random_seed(1);
}

// Options that fill a text of the state record.
struct TextOption {
    const char* name;
    char* field;
    std::size_t size;
};

bool read_text_option(const std::string& name, const char* value) {
    DeviceInfo& device = upgrade_state.device_info;
    const TextOption options[] = {
        {"--label", upgrade_state.product_label, PRODUCT_LABEL_SIZE},
        {"--device-ip-text", upgrade_state.device_ip_text, DEVICE_IP_TEXT_SIZE},
        {"--product", device.product_name, DEVICE_TEXT_SIZE},
        {"--mac", device.mac_address, DEVICE_TEXT_SIZE},
        {"--software", device.software_version, DEVICE_TEXT_SIZE},
        {"--hardware", device.hardware_version, DEVICE_TEXT_SIZE},
        {"--serial", device.serial_number, DEVICE_TEXT_SIZE},
        {"--user", upgrade_state.auth.user_name, AUTH_TEXT_SIZE},
        {"--password", upgrade_state.auth.password, AUTH_TEXT_SIZE},
    };
    for (const TextOption& option : options) {
        if (name != option.name) continue;
        copy_text(option.field, option.size, value);
        return true;
    }
    return false;
}

// Options with a value that are not texts of the state record.
bool read_value_option(const std::string& name, const char* value, GalleryOptions* options) {
    if (name == "--stage") {
        upgrade_state.stage = std::atoi(value);
    } else if (name == "--version") {
        set_image_version(&upgrade_state.target_image, value);
    } else if (name == "--transition-version") {
        set_image_version(&upgrade_state.transition_image, value);
    } else if (name == "--local") {
        return set_local_addresses(value);
    } else if (name == "--seed") {
        random_seed(static_cast<std::uint32_t>(std::atoi(value)));
    } else if (name == "--title") {
        options->title = value;
    } else if (name == "--range") {
        options->range = std::atoi(value);
    } else if (name == "--position") {
        options->position = std::atoi(value);
    } else if (name == "--run-ms") {
        options->run_ms = std::atoi(value);
    } else if (name == "--hold-ms") {
        options->hold_ms = std::atoi(value);
    } else if (name == "--result") {
        options->result_file = value;
    } else {
        return false;
    }
    return true;
}

// Reads the options into the state record; false on anything it does not know.
bool read_options(int argc, char** argv, GalleryOptions* options) {
    if (argc < 2) return false;
    options->dialog = std::atoi(argv[1]);
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--phone") {
            upgrade_state.is_phone_model = 1;
        } else if (name == "--empty-text") {
            options->empty_text = true;
        } else if (name == "--trace") {
            trace_set_sink(print_trace);
        } else if (i + 1 >= argc) {
            return false;
        } else {
            const char* value = argv[++i];
            if (!read_text_option(name, value) && !read_value_option(name, value, options)) {
                return false;
            }
        }
    }
    return true;
}

DialogProc procedure_of(int dialog) {
    switch (dialog) {
        case DIALOG_WARNING: return warning_dialog_proc;
        case DIALOG_ADDRESS_ADAPTER:
        case DIALOG_ADDRESS_PHONE: return address_dialog_proc;
        case DIALOG_PASSWORD: return password_dialog_proc;
        case DIALOG_CONFIRM:
        case DIALOG_CONFIRM_TRANSITION: return confirm_dialog_proc;
        case DIALOG_SUCCESS: return success_dialog_proc;
        case DIALOG_CONNECTING: return connecting_dialog_proc;
        case DIALOG_WAITING:
        case DIALOG_UPLOAD: return transfer_dialog_proc;
        default: return nullptr;
    }
}

bool is_modeless(int dialog) {
    return dialog == DIALOG_CONNECTING || dialog == DIALOG_WAITING || dialog == DIALOG_UPLOAD;
}

void write_outcome(std::FILE* out, const char* outcome) {
    std::fprintf(out, "outcome: %s\n", outcome);
    std::fprintf(out, "device_ip: %08x\n", upgrade_state.device_ip);
    std::fprintf(out, "device_ip_text: %s\n", upgrade_state.device_ip_text);
    std::fprintf(out, "local_ip: %08x\n", upgrade_state.local_ip);
    std::fprintf(out, "tftp_file_name: %s\n", upgrade_state.tftp_file_name);
    std::fprintf(out, "user_name: %s\n", upgrade_state.auth.user_name);
    std::fprintf(out, "password: %s\n", upgrade_state.auth.password);
}

void report(const GalleryOptions& options, const char* outcome) {
#ifndef _WIN32
    std::printf("\n");
    write_outcome(stdout, outcome);
    std::fflush(stdout);
#endif
    if (options.result_file == nullptr) return;
    std::FILE* file = std::fopen(options.result_file, "w");
    if (file == nullptr) return;
    write_outcome(file, outcome);
    std::fclose(file);
}

// What the creators of the modeless dialogs do after opening them, then pumping as they do.
void run_modeless(const GalleryOptions& options, DialogProc procedure) {
    WindowHandle dialog =
        dialog_open_modeless(upgrade_state.app_instance, options.dialog, procedure);
    dialog_show(dialog);
    int range = options.range;
    if (range < 0) range = options.dialog == DIALOG_WAITING ? 1000 : 100;
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, range);
    dialog_progress_position(dialog, CONTROL_PROGRESS, options.position);
    if (options.dialog == DIALOG_WAITING && !options.empty_text) {
        dialog_set_item_text(dialog, CONTROL_WAITING_TEXT, text_waiting);
    }
    if (options.title != nullptr) dialog_set_title(dialog, options.title);
    std::uint32_t start = clock_ms();
    for (;;) {
        std::uint32_t elapsed = clock_ms() - start;
        if (options.run_ms > 0) {
            std::uint32_t run = static_cast<std::uint32_t>(options.run_ms);
            int position = static_cast<int>(static_cast<long long>(range) *
                                            (elapsed < run ? elapsed : run) / run);
            dialog_progress_position(dialog, CONTROL_PROGRESS, position);
        }
        dialog_pump_all(dialog);
        if (options.hold_ms > 0 && elapsed >= static_cast<std::uint32_t>(options.hold_ms)) break;
        clock_sleep_ms(5);
    }
    dialog_destroy(dialog);
    report(options, "closed");
}

int gallery_main(int argc, char** argv, ModuleHandle instance) {
    set_defaults();
    GalleryOptions options;
    DialogProc procedure = nullptr;
    if (read_options(argc, argv, &options)) procedure = procedure_of(options.dialog);
    if (procedure == nullptr) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    upgrade_state.app_instance = instance;
    dialogs_init_common_controls();
    if (is_modeless(options.dialog)) {
        run_modeless(options, procedure);
        return 0;
    }
    int end_code = dialog_run_modal(instance, options.dialog, procedure);
    char outcome[32];
    std::snprintf(outcome, sizeof outcome, "end code %d", end_code);
    report(options, outcome);
    return 0;
}

}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return gallery_main(__argc, __argv, instance);
}
#else
int main(int argc, char** argv) { return gallery_main(argc, argv, nullptr); }
#endif
