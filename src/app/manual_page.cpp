// The manual page: the option table and the exit statuses in man(7) markup.
#include "app/manual_page.h"

#include "app/command_line.h"
#include "program_version.h"

namespace {

// Text as roff reads it: a backslash doubled, every hyphen a minus (options must copy and paste
// as typed), and a line that would start with '.' or '\'' kept from reading as a request.
std::string roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::string option_heading(const OptionRow& row) {
    std::string heading;
    if (row.short_name != 0) heading += "\\fB\\-" + std::string(1, row.short_name) + "\\fR, ";
    heading += "\\fB\\-\\-" + roff(row.long_name) + "\\fR";
    if (row.value_name != nullptr) heading += " \\fI" + roff(row.value_name) + "\\fR";
    return heading;
}

}  // namespace

std::string manual_page_text(const char* date) {
    std::string page = std::string(".TH TEV-UPGRADE 1 \"") + date + "\" \"tev-upgrade " +
                       TEV_PROGRAM_VERSION + "\" \"User Commands\"\n";
    page += ".SH NAME\n"
            "tev\\-upgrade \\- install the firmware it carries onto a TEV VoIP adapter or handset\n"
            ".SH SYNOPSIS\n"
            ".B tev\\-upgrade\n"
            "[\\fIOPTION\\fR]...\n"
            ".SH DESCRIPTION\n"
            "Reads the device's status page over HTTP (answering a digest challenge when the "
            "device asks for a password), shows what it found and asks for confirmation, has the "
            "device fetch the image from this computer over TFTP, waits while the device writes "
            "its flash, and checks the version the device then reports.\n"
            ".PP\n"
            "Every dialog is shown in the terminal and answered with typed lines; the end of input "
            "presses Cancel. The options answer the dialogs for a script; with \\fB\\-\\-yes\\fR "
            "the run asks nothing.\n"
            ".PP\n"
            "A device gets only an image made for its model. Its \"Product Name\" is read as "
            "words, letters in any case and numbers, spaces and punctuation ignored, and must hold "
            "the words of the product the image's header names (\"TEV\\-4400 VoIP Adapter\" is "
            "a TEV\\-4400, \"TEV\\-44001\" is not; TEV\\-4000/4200 names two models). A device "
            "of another model gets no command: its result is other\\-model. \\fB\\-\\-image\\fR "
            "adds images for other models, \\fB\\-\\-any\\-model\\fR sends this program's "
            "own all the same.\n"
            ".SH OPTIONS\n";
    for (const OptionRow& row : option_table()) {
        page += ".TP\n" + option_heading(row) + "\n" + roff(row.help) + "\n";
    }
    page += ".SH EXIT STATUS\n";
    for (const char* line : EXIT_STATUS_LINES) {
        std::string text = line;
        page += ".TP\n.B " + text.substr(0, 1) + "\n" + roff(text.substr(3)) + "\n";
    }
    page += ".SH ENVIRONMENT\n"
            ".TP\n.B TEV_PASSWORD\n"
            "the device's password when \\fB\\-\\-password\\-file\\fR is not given.\n"
            ".SH SEE ALSO\n"
            "README.md of the project, for the prompts, scripts and runs over many devices.\n";
    return page;
}
