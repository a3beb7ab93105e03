// The command line: options, the usage text and the version text.
#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "core/firmware_images.h"
#include "platform/resources.h"
#include "program_version.h"

namespace {

bool is_option(const char* argument, const char* name) { return std::strcmp(argument, name) == 0; }

// A Windows switch: '/' and the name in any letter case, as Windows programs take them.
bool is_switch(const char* argument, const char* name) {
    if (argument[0] != '/') return false;
    for (const char* a = argument + 1;; ++a, ++name) {
        char lower = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        if (lower != *name) return false;
        if (lower == 0) return true;
    }
}

CommandLine bad_usage(const char* format, const char* argument) {
    CommandLine line{CommandAction::BAD_USAGE, nullptr, ""};
    std::snprintf(line.problem, sizeof line.problem, format, argument);
    return line;
}

void describe_image(std::string* text, const char* role, int id) {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (!resource_find(FIRMWARE_RESOURCE_TYPE, id, &data, &size)) return;
    FirmwareImage image{};
    std::memcpy(image.header, data, size < IMAGE_HEADER_SIZE ? size : IMAGE_HEADER_SIZE);
    image.header[IMAGE_HEADER_SIZE - 1] = 0;
    const ProductRow* row = product_row_for(image.header);
    const char* version = image_version(image);
    char line[160];
    std::snprintf(line, sizeof line, "%s firmware: %s, version %s (%lu bytes)\n", role,
                  row != nullptr ? row->label : DEFAULT_PRODUCT_LABEL,
                  version[0] != 0 ? version : "(none)", static_cast<unsigned long>(size));
    text->append(line);
}

}  // namespace

CommandLine parse_command_line(int count, const char* const* arguments, OptionStyle style) {
    bool windows = style == OptionStyle::WINDOWS;
    CommandLine line{CommandAction::UPGRADE, nullptr, ""};
    for (int i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        if (is_option(argument, "--help") || is_option(argument, "-h") ||
            (windows && (is_switch(argument, "?") || is_switch(argument, "help")))) {
            return CommandLine{CommandAction::HELP, nullptr, ""};
        }
        if (is_option(argument, "--version") || (windows && is_switch(argument, "version"))) {
            return CommandLine{CommandAction::VERSION, nullptr, ""};
        }
        const char* path = nullptr;
        if (is_option(argument, "--log") || (windows && is_switch(argument, "log"))) {
            if (i + 1 >= count) return bad_usage("%s needs a file name", argument);
            path = arguments[++i];
        } else if (std::strncmp(argument, "--log=", 6) == 0) {
            path = argument + 6;
        } else {
            return bad_usage("unknown option '%.120s'", argument);
        }
        if (path[0] == 0) return bad_usage("%s needs a file name", "--log");
        if (line.log_path != nullptr) return bad_usage("%s given twice", "--log");
        line.log_path = path;
    }
    return line;
}

const char* usage_text(OptionStyle style) {
    if (style == OptionStyle::WINDOWS) {
        return "Usage: tev-upgrade.exe [/log FILE]\r\n"
               "\r\n"
               "Installs the firmware this program carries onto a TEV device on the local "
               "network.\r\n"
               "\r\n"
               "/log FILE  or  --log FILE\r\n"
               "      Write every step of the upgrade to FILE, for support.\r\n"
               "/?\r\n"
               "      Show this text.\r\n"
               "/version\r\n"
               "      Show the program's version and the firmware it carries.";
    }
    return "Usage: tev-upgrade [--log FILE]\n"
           "       tev-upgrade --help | --version\n"
           "\n"
           "Installs the firmware image this program carries onto a TEV VoIP adapter or handset\n"
           "on the local network: every dialog is shown in the terminal and answered with typed\n"
           "lines (README.md, \"Driving the console program\", lists the questions).\n"
           "\n"
           "Options:\n"
           "  --log FILE   write every step of the upgrade to FILE, created anew, for support\n"
           "  --help       show this text\n"
           "  --version    show the program's version and the firmware images it carries\n";
}

std::string version_text() {
    std::string text = "tev-upgrade " TEV_PROGRAM_VERSION "\n";
    describe_image(&text, "Target", RESOURCE_TARGET_IMAGE);
    describe_image(&text, "Transition", RESOURCE_TRANSITION_IMAGE);
    return text;
}

std::string log_failure_text(const char* path, const char* reason) {
    return std::string("Can't create the log file ") + path + ": " + reason;
}
