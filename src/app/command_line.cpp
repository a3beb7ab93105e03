// The command line: the table of options, the parser for both spellings, the usage and version
// texts.
#include "app/command_line.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdint>

#include "app/run_deadline.h"
#include "core/firmware_images.h"
#include "core/run_images.h"
#include "platform/resources.h"
#include "program_version.h"
#include "ui/ipv4_parse.h"

namespace {

// The Windows program takes every row with a switch; --quiet has none, since its dialogs are its
// output, nor --log-dir, whose folder its list window does not keep.
constexpr OptionRow OPTIONS[] = {
    {"device", 0, "device", "A.B.C.D", "the device's address, typed into the address dialog",
     &CommandLine::device, nullptr, CommandAction::UPGRADE},
    {"local", 0, "local", "A.B.C.D",
     "this computer's address the device fetches the image from (by default the one the system "
     "routes to the device from); it must be one of this computer's addresses",
     &CommandLine::local, nullptr, CommandAction::UPGRADE},
    {"user", 0, "user", "NAME", "the user name the device asks for",
     &CommandLine::user, nullptr, CommandAction::UPGRADE},
    {"password-file", 0, "passwordfile|password-file", "FILE",
     "the device's password: the first line of FILE ('-': standard input); without it the "
     "environment variable TEV_PASSWORD, if set",
     &CommandLine::password_file, nullptr, CommandAction::UPGRADE},
    {"yes", 0, "yes", nullptr,
     "press the buttons of each dialog and box: the run asks nothing and never waits; a "
     "question the options do not answer ends it with status 1 (needs a device's address)",
     nullptr, &CommandLine::yes, CommandAction::UPGRADE},
    {"quiet", 'q', nullptr, nullptr,
     "print only the final result line: 'ADDRESS: verified: TEXT' on standard output, or "
     "'ADDRESS: failed: TEXT' on standard error (needs --yes)",
     nullptr, &CommandLine::quiet, CommandAction::UPGRADE},
    {"events", 0, "events", "FILE",
     "write the run's events to FILE, one JSON object a line ('-': standard output, which then "
     "carries nothing else)",
     &CommandLine::events_path, nullptr, CommandAction::UPGRADE},
    {"log", 0, "log", "FILE", "write every step of the upgrade to FILE, created anew, for support",
     &CommandLine::log_path, nullptr, CommandAction::UPGRADE},
    {"devices", 0, "devices", "FILE",
     "upgrade every device listed in FILE, one address a line ('#' starts a comment); so does "
     "--device given more than once. Each upgrade runs in a process of its own (needs --yes)",
     &CommandLine::devices_path, nullptr, CommandAction::UPGRADE},
    {"jobs", 'j', "jobs", "N", "with several devices, upgrade at most N at a time, 1 to 256 (default 64)",
     &CommandLine::jobs, nullptr, CommandAction::UPGRADE},
    {"log-dir", 0, nullptr, "DIR",
     "with several devices, write each one's --log to DIR/ADDRESS.log (a retry's to "
     "DIR/ADDRESS-retryN.log)",
     &CommandLine::log_dir, nullptr, CommandAction::UPGRADE},
    {"deadline", 0, "deadline", "SECONDS",
     "cancel an upgrade running SECONDS after its start, as Cancel would: with --yes by "
     "default 600, in a run a person answers none; with several devices, each one's",
     &CommandLine::deadline, nullptr, CommandAction::UPGRADE},
    {"check", 0, "check", nullptr,
     "read each device's status page and change nothing: its product, MAC, serial, versions and "
     "whether it needs the upgrade (status 1 when one could not be read, else 3 when some need it, "
     "else 1 when one is of a model no image is for, else 0); it asks no upgrade question, and "
     "reads every device of a site (the canary and the failure budget are an upgrade's)",
     nullptr, &CommandLine::check, CommandAction::UPGRADE},
    {"skip-current", 0, "skipcurrent|skip-current", nullptr,
     "leave a device that already runs the image's version alone (result current, a success); a "
     "run that was interrupted is finished by running it again with this option",
     nullptr, &CommandLine::skip_current, CommandAction::UPGRADE},
    {"report", 0, "report", "FILE",
     "write every device's outcome to FILE (.csv or .json), rewritten after each device's end; "
     "a FILE that cannot be written ends the run before anything is sent (status 2), a rewrite "
     "that fails makes the run's status 1",
     &CommandLine::report, nullptr, CommandAction::UPGRADE},
    {"image", 0, "image", "FILE",
     "an image for another product (the one its header names), beside this program's own; may "
     "be given several times, one image a product. Each device gets the image of its model, "
     "matched by its product name; a device of a model no image is for gets no command (result "
     "other-model, status 1). A FILE that cannot be read or is no image ends the run before "
     "anything is sent (status 2). A transition image is only ever this program's own",
     &CommandLine::image, nullptr, CommandAction::UPGRADE},
    {"any-model", 0, "anymodel|any-model", nullptr,
     "upgrade devices of other models: a device of a model no image is for gets this "
     "program's own image all the same",
     nullptr, &CommandLine::any_model, CommandAction::UPGRADE},
    {"canary", 0, "canary", "N",
     "with several devices, upgrade the first N first; the rest only when all of them end well",
     &CommandLine::canary, nullptr, CommandAction::UPGRADE},
    {"max-failures", 0, "maxfailures|max-failures", "N",
     "with several devices, start no further device once N have failed",
     &CommandLine::max_failures, nullptr, CommandAction::UPGRADE},
    {"scan", 0, "scan", "RANGE",
     "find the TEVs in RANGE (A.B.C.D/NN with NN from 20 to 32, or A.B.C.D-E.F.G.H; at most "
     "4096 addresses) and list them as --check does: each address is asked for its status page "
     "once, at most --jobs at a time, and an address that does not answer or is no TEV is only "
     "counted",
     &CommandLine::scan, nullptr, CommandAction::UPGRADE},
    {"write-devices", 0, nullptr, "FILE",
     "with --scan, write the TEVs found to FILE as a devices file for --devices (the address, "
     "then the product and serial as its label)",
     &CommandLine::write_devices, nullptr, CommandAction::UPGRADE},
    {"retries", 0, "retries", "N",
     "try a device again up to N times (with several devices; 0 to 10, default 0) when it failed "
     "before anything could reach its flash: no answer, the transfer stopped; never after a wrong "
     "password or a whole transfer. The canary and --max-failures count it once it has failed "
     "for good",
     &CommandLine::retries, nullptr, CommandAction::UPGRADE},
    {"retry-wait", 0, "retrywait|retry-wait", "SECONDS",
     "the wait before a retry (default 30), twice as long before each further one; a retry that "
     "would start past the device's --deadline is not made",
     &CommandLine::retry_wait, nullptr, CommandAction::UPGRADE},
    {"help", 'h', "?|help", nullptr, "show this text", nullptr, nullptr, CommandAction::HELP},
    {"version", 0, "version", nullptr,
     "show the program's version and the firmware images it carries", nullptr, nullptr,
     CommandAction::VERSION},
};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_any_case(const char* typed, const char* name) {
    while (*typed != 0 && lower(*typed) == *name) {
        ++typed;
        ++name;
    }
    return *typed == 0 && *name == 0;
}

// A Windows switch: '/' and one of the row's names in any letter case.
bool is_switch(const char* argument, const char* switches) {
    if (argument[0] != '/' || switches == nullptr) return false;
    const char* name = switches;
    for (;;) {
        std::size_t length = std::strcspn(name, "|");
        const char* a = argument + 1;
        std::size_t i = 0;
        while (i < length && a[i] != 0 && lower(a[i]) == name[i]) ++i;
        if (i == length && a[i] == 0) return true;
        if (name[length] == 0) return false;
        name += length + 1;
    }
}

CommandLine bad_usage(const char* format, const char* first, const char* second = "") {
    CommandLine line{};
    line.action = CommandAction::BAD_USAGE;
    std::snprintf(line.problem, sizeof line.problem, format, first, second);
    return line;
}

const char* value_description(const char* value_name) {
    if (std::strcmp(value_name, "FILE") == 0) return "a file name";
    if (std::strcmp(value_name, "A.B.C.D") == 0) return "an IPv4 address";
    return "a value";
}

bool offered(const OptionRow& row, OptionStyle style) {
    return style == OptionStyle::LINUX || row.windows_switch != nullptr;
}

// Whether the name starts with the first `length` characters of `typed`; on Windows in any letter
// case, as its switches.
bool starts_with(const char* name, const char* typed, std::size_t length, OptionStyle style) {
    if (style == OptionStyle::LINUX) return std::strncmp(name, typed, length) == 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] == 0 || name[i] != lower(typed[i])) return false;
    }
    return true;
}

// The row of a long name, or of the one long name that starts with it, as getopt_long takes them;
// but a start must not be a whole word of a longer name, so that "--password" is no option.
// When several names start with it, *candidates lists them ("'--device' '--devices'").
const OptionRow* find_long(const char* name, std::size_t length, OptionStyle style,
                           std::string* candidates) {
    const OptionRow* by_start = nullptr;
    int starts = 0;
    std::string names;
    for (const OptionRow& row : OPTIONS) {
        if (!offered(row, style) || !starts_with(row.long_name, name, length, style)) continue;
        if (row.long_name[length] == 0) return &row;
        if (row.long_name[length] == '-') continue;
        by_start = &row;
        ++starts;
        names += std::string(names.empty() ? "" : " ") + "'--" + row.long_name + "'";
    }
    if (starts > 1) *candidates = names;
    return starts == 1 ? by_start : nullptr;
}

const OptionRow* find_row(const char* argument, OptionStyle style, const char** inline_value,
                          std::string* candidates) {
    *inline_value = nullptr;
    candidates->clear();
    if (argument[0] == '-' && argument[1] == '-') {
        const char* name = argument + 2;
        const char* equals = std::strchr(name, '=');
        std::size_t length = equals != nullptr ? static_cast<std::size_t>(equals - name)
                                               : std::strlen(name);
        if (equals != nullptr) *inline_value = equals + 1;
        return length == 0 ? nullptr : find_long(name, length, style, candidates);
    }
    for (const OptionRow& row : OPTIONS) {
        bool short_form = offered(row, style) && argument[0] == '-' && row.short_name != 0 &&
                          argument[1] == row.short_name && argument[2] == 0;
        bool windows_form =
            style == OptionStyle::WINDOWS && is_switch(argument, row.windows_switch);
        if (short_form || windows_form) return &row;
    }
    return nullptr;
}

// "--password" or a longer word that starts with it; on Windows also "/password", in any case.
bool names_the_password(const char* argument, OptionStyle style) {
    const char* typed = nullptr;
    if (argument[0] == '-' && argument[1] == '-') typed = argument + 2;
    if (style == OptionStyle::WINDOWS && argument[0] == '/') typed = argument + 1;
    return typed != nullptr && starts_with("password", typed, 8, style);
}

bool names_a_device(const char* text) {
    std::uint32_t address = 0;
    return parse_ipv4_text(text, &address) == IPV4_OK && address != 0;
}

// What the options ask of each other, once all are read.
CommandLine checked(const CommandLine& line, OptionStyle style) {
    for (int i = 0; i < line.device_count; ++i) {
        if (!names_a_device(line.devices[i]))
            return bad_usage("--device '%.60s' is not an IPv4 address", line.devices[i]);
    }
    if (line.local != nullptr && !names_a_device(line.local))
        return bad_usage("--local '%.60s' is not an IPv4 address", line.local);
    bool has_device = line.device != nullptr || line.devices_path != nullptr;
    if (line.scan != nullptr && has_device)
        return bad_usage("--scan finds its devices: not with --device or --devices%s", "");
    if (line.write_devices != nullptr && line.scan == nullptr)
        return bad_usage("--write-devices writes the TEVs --scan finds: it needs --scan%s", "");
    if (line.scan != nullptr && line.skip_current)
        return bad_usage("--scan changes nothing: --skip-current is for an upgrade%s", "");
    has_device = has_device || line.scan != nullptr;
    if (line.yes && !has_device)
        return bad_usage("--yes needs %s: nobody is asked for the address",
                         style == OptionStyle::LINUX ? "--device or --devices" : "--device");
    // Each device's upgrade runs in a child that nobody can answer; the Windows program's list
    // window asks its person itself.
    bool several = line.devices_path != nullptr || line.device_count > 1;
    if (style == OptionStyle::LINUX && several && !line.yes && !line.check)
        return bad_usage("several devices need --yes: each upgrade runs without asking%s", "");
    if (line.check && !has_device)
        return bad_usage("--check needs --device or --devices: which devices to read%s", "");
    if (line.check && line.skip_current)
        return bad_usage("--check changes nothing: --skip-current is for an upgrade%s", "");
    long seconds = 0;
    if (line.deadline != nullptr && !read_deadline_seconds(line.deadline, &seconds))
        return bad_usage("--deadline needs seconds from 1 to 86400%s", "");
    if (line.quiet && !line.yes && !line.check && line.scan == nullptr)
        return bad_usage("--quiet needs --yes: the questions would not be shown%s", "");
    return line;
}

// --version, at argument `at`: the images given before it and after it are kept (their versions are
// listed too); nothing else is looked at.
CommandLine version_asked(const CommandLine& before, int count, const char* const* arguments,
                          int at, OptionStyle style) {
    CommandLine answer{};
    answer.action = CommandAction::VERSION;
    for (int i = 0; i < before.image_count; ++i) answer.images[answer.image_count++] = before.images[i];
    for (int i = at + 1; i < count && std::strcmp(arguments[i], "--") != 0; ++i) {
        const char* inline_value = nullptr;
        std::string candidates;
        const OptionRow* row = find_row(arguments[i], style, &inline_value, &candidates);
        if (row == nullptr || row->text != &CommandLine::image) continue;
        const char* value = inline_value != nullptr ? inline_value
                            : i + 1 < count        ? arguments[++i]
                                                   : nullptr;
        if (value != nullptr && value[0] != 0 && answer.image_count < COMMAND_MAX_IMAGES) {
            answer.images[answer.image_count++] = value;
        }
    }
    answer.image = answer.image_count > 0 ? answer.images[0] : nullptr;
    return answer;
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

void append_wrapped(std::string* text, const char* help, std::size_t indent, std::size_t width,
                    const char* line_break) {
    std::string line;
    const char* word = help;
    while (*word != 0) {
        std::size_t length = std::strcspn(word, " ");
        if (!line.empty() && indent + line.size() + 1 + length > width) {
            text->append(indent, ' ').append(line).append(line_break);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line.append(word, length);
        word += length;
        while (*word == ' ') ++word;
    }
    if (!line.empty()) text->append(indent, ' ').append(line).append(line_break);
}

namespace {

constexpr std::size_t USAGE_BOX_WIDTH = 50;

// How the Windows usage spells a row: its first switch, and " VALUE" when it takes one.
std::string first_switch(const OptionRow& row) {
    return std::string(row.windows_switch, std::strcspn(row.windows_switch, "|"));
}

std::string value_after(const OptionRow& row) {
    return row.value_name != nullptr ? std::string(" ") + row.value_name : std::string();
}

}  // namespace

std::span<const OptionRow> option_table() { return OPTIONS; }

const char* const EXIT_STATUS_LINES[4] = {
    ("0  the device reports the image's version, or already did with --skip-current (every "
     "device, with several)"),
    ("1  the upgrade failed or was cancelled, a device could not be read, or a device is of a "
     "model no image is for (with --check only when no device needs the upgrade)"),
    ("2  the command line is wrong, or a file it names cannot be read or created: nothing was "
     "sent to any device"),
    "3  --check found a device that needs the upgrade",
};

bool yes_among_arguments(int count, const char* const* arguments, OptionStyle style) {
    for (int i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        if (std::strcmp(argument, "--") == 0) return false;
        bool long_form = argument[0] == '-' && argument[1] == '-' &&
                         (style == OptionStyle::WINDOWS ? same_any_case(argument + 2, "yes")
                                                        : std::strcmp(argument + 2, "yes") == 0);
        if (long_form || (style == OptionStyle::WINDOWS && is_switch(argument, "yes"))) return true;
    }
    return false;
}

CommandLine parse_command_line(int count, const char* const* arguments, OptionStyle style) {
    CommandLine line{};
    line.action = CommandAction::UPGRADE;
    bool options_ended = false;
    for (int i = 0; i < count; ++i) {
        const char* argument = arguments[i];
        if (!options_ended && std::strcmp(argument, "--") == 0) {
            options_ended = true;
            continue;
        }
        if (!options_ended && std::strcmp(argument, SCAN_PROBE_ARGUMENT) == 0) {
            line.scan_probe = true;
            continue;
        }
        const char* inline_value = nullptr;
        std::string candidates;
        const OptionRow* row =
            options_ended ? nullptr : find_row(argument, style, &inline_value, &candidates);
        if (!candidates.empty()) {
            // The name only, as typed: a value after '=' is no part of the question.
            std::string typed(argument, std::strcspn(argument, "="));
            return bad_usage("option '%.60s' is ambiguous; possibilities: %.150s", typed.c_str(),
                             candidates.c_str());
        }
        if (row == nullptr && names_the_password(argument, style)) {
            // The name only: a value after '=' (or a Windows ':') would be a password, not to be
            // echoed.
            std::string name(argument, std::strcspn(argument, "=:"));
            return bad_usage("unknown option '%.40s': the password comes from --password-file FILE "
                             "or TEV_PASSWORD, never from the command line",
                             name.c_str());
        }
        if (row == nullptr) return bad_usage("unknown option '%.120s'", argument);
        if (row->action == CommandAction::VERSION) return version_asked(line, count, arguments, i, style);
        if (row->action != CommandAction::UPGRADE) {
            CommandLine answer{};
            answer.action = row->action;
            return answer;
        }
        if (row->value_name == nullptr) {
            if (inline_value != nullptr) return bad_usage("--%s takes no value", row->long_name);
            line.*(row->flag) = true;
            continue;
        }
        const char* value = inline_value;
        if (value == nullptr && i + 1 < count) value = arguments[++i];
        if (value == nullptr || value[0] == 0) {
            std::string spelled =
                argument[0] == '/' ? argument : "--" + std::string(row->long_name);
            return bad_usage("%s needs %s", spelled.c_str(), value_description(row->value_name));
        }
        if (row->text == &CommandLine::device) {
            if (line.device_count == COMMAND_MAX_DEVICES)
                return bad_usage("more than %s --device options: list them with --devices FILE",
                                 std::to_string(COMMAND_MAX_DEVICES).c_str());
            line.devices[line.device_count++] = value;
            if (line.device == nullptr) line.device = value;
            continue;
        }
        if (row->text == &CommandLine::image) {
            if (line.image_count == COMMAND_MAX_IMAGES)
                return bad_usage("more than %s --image options", std::to_string(COMMAND_MAX_IMAGES).c_str());
            line.images[line.image_count++] = value;
            if (line.image == nullptr) line.image = value;
            continue;
        }
        if (line.*(row->text) != nullptr) return bad_usage("--%s given twice", row->long_name);
        line.*(row->text) = value;
    }
    return checked(line, style);
}

namespace {

// The box has room for each switch's help up to its first colon, bracket, semicolon or full
// stop (README has the rest): fourteen switches fit a screen of 768 pixels.
std::string first_clause(const char* help) {
    std::string text = help;
    std::size_t end = text.size();
    for (const char* stop : {": ", " (", "; ", ". "}) end = std::min(end, text.find(stop));
    return text.substr(0, end);
}

}  // namespace

std::string usage_text(OptionStyle style) {
    std::string text;
    if (style == OptionStyle::WINDOWS) {
        // Short lines: a message box wraps a long one again where it likes (under Wine at about
        // 50 characters), and the whole list must fit a screen of 768 pixels: the usage line
        // names the first switch, the list under it every one.
        text = "Usage: tev-upgrade.exe [/" + first_switch(OPTIONS[0]) + value_after(OPTIONS[0]) +
               "] ...\r\n\r\n";
        append_wrapped(&text,
                       "Installs this program's firmware on TEV devices. Exit status: 0 verified or "
                       "current, 1 failed or cancelled, 2 a wrong command line or a file that "
                       "cannot be opened, 3 /check found devices to upgrade. With /yes "
                       "nothing is asked, else the options fill the dialogs; /x is --x too.",
                       0, USAGE_BOX_WIDTH, "\r\n");
        text += "\r\n";
        for (const OptionRow& row : OPTIONS) {
            if (row.windows_switch == nullptr) continue;
            // "/switch VALUE: help", its further lines indented; appended piece by piece: GCC
            // 12 warns falsely (-Wrestrict) about "/" + a string.
            std::string entry;
            entry.append("/").append(first_switch(row)).append(value_after(row)).append(": ");
            entry.append(first_clause(row.help));
            std::string wrapped;
            append_wrapped(&wrapped, entry.c_str(), 4, USAGE_BOX_WIDTH, "\r\n");
            text.append(wrapped, 4);
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    text = "Usage: tev-upgrade [OPTION]...\n"
           "\n"
           "Installs the firmware image this program carries onto a TEV VoIP adapter or handset\n"
           "on the local network. Every dialog is shown in the terminal and answered with typed\n"
           "lines; the options answer them for a script. With several devices each upgrade runs\n"
           "in a process of its own. A device gets only an image for its own model, as its\n"
           "product name tells (--image adds images for other models). Exit status: 0 when the\n"
           "device reports the image's version (or already did, with --skip-current), 1 when\n"
           "the upgrade failed or was cancelled or the device is of another model, 2 for a\n"
           "wrong command line or a file it names that cannot be used, 3 when --check found a\n"
           "device to upgrade. README.md tells more.\n"
           "\n"
           "Options:\n";
    for (const OptionRow& row : OPTIONS) {
        std::string names = row.short_name != 0 ? std::string("-") + row.short_name + ", " : "    ";
        names += std::string("--") + row.long_name;
        if (row.value_name != nullptr) names += std::string(" ") + row.value_name;
        text += "  " + names + "\n";
        append_wrapped(&text, row.help, 8, 79, "\n");
    }
    text += "\nExit status:\n";
    for (const char* line : EXIT_STATUS_LINES) append_wrapped(&text, line, 2, 79, "\n");
    return text;
}

std::string version_text() {
    std::string text = "tev-upgrade " TEV_PROGRAM_VERSION "\n";
    describe_image(&text, "Target", RESOURCE_TARGET_IMAGE);
    describe_image(&text, "Transition", RESOURCE_TRANSITION_IMAGE);
    for (const RunImage& image : run_image_files()) {
        const char* version = image_version(image.image);
        text += "Image from " + image.file + ": " + image.product + ", version " +
                (version[0] != 0 ? version : "(none)") + " (" + std::to_string(image.image.size) +
                " bytes)\n";
    }
    return text;
}
