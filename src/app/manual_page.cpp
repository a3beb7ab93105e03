// The manual page: the option table and the exit statuses in man(7) markup, with the files it
// reads, the ports it serves from, examples, and what the package installs beside it.
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

// A command of EXAMPLES, each line of it as typed (a line ending in '\\' goes on in the next).
struct ManualExample {
    const char* what;
    const char* lines[2];
};

constexpr ManualExample EXAMPLES[] = {
    {"One device, nothing asked, the password in a file:",
     {"tev-upgrade --device 192.168.0.20 --user admin --password-file pw.txt --yes", nullptr}},
    {"An inventory of a site first: every device read, none changed, a report to open in a "
     "spreadsheet (status 3 when some need the upgrade):",
     {"tev-upgrade --check --devices site.txt --user admin \\",
      "    --password-file pw.txt --report inventory.csv"}},
    {"Then the site: one device first as a canary, the others only when it ends well, no further "
     "device after three failures, devices already current left alone, each device's log kept, "
     "the report rewritten after each device's end. After an interruption the same command "
     "finishes the run.",
     {"tev-upgrade --devices site.txt --user admin --password-file pw.txt --yes \\",
      "    --canary 1 --max-failures 3 --skip-current --log-dir logs --report site.csv"}},
};

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
            ".SH FILES\n"
            ".TP\n.I devices file\n"
            "the file of \\fB\\-\\-devices\\fR: one device a line, its IPv4 address first; "
            "what follows the address after blanks or a \\(lq#\\(rq is the device's label, shown "
            "in the table and kept in the report. Blank lines and lines starting with "
            "\\(lq#\\(rq are left out. An address listed twice is a usage error (status 2) naming "
            "the file and the line.\n"
            ".PP\n.RS\n.nf\n"
            "# the north office\n"
            "192.168.10.20  reception\n"
            "192.168.10.21  # warehouse\n"
            "192.168.10.22\n"
            ".fi\n.RE\n"
            ".TP\n.I password file\n"
            "the file of \\fB\\-\\-password\\-file\\fR: its first line is the password, a "
            "CR LF ending taken off. Keep it readable by its owner only.\n"
            ".SH NOTES\n"
            "The device fetches the image from this computer over TFTP, on UDP port 69, or the next "
            "free port up to 168 when 69 is taken; it reaches the device's status page on TCP port "
            "80. A firewall on this computer must let the device's TFTP requests in.\n"
            ".PP\n"
            "The program needs no root. Linux keeps the ports below 1024 for root and for programs "
            "given the capability to bind them; run by an ordinary user, the program serves from a "
            "port the system chooses and names it in the upgrade command, and the support log "
            "(\\fB\\-\\-log\\fR) says so. The firewall must then let in that port instead. To "
            "serve from port 69 as an ordinary user all the same, give the program the capability "
            "once, as root:\n"
            ".PP\n.RS\n.nf\n"
            "setcap cap_net_bind_service=+ep /usr/bin/tev\\-upgrade\n"
            ".fi\n.RE\n"
            ".SH EXAMPLES\n";
    for (const ManualExample& example : EXAMPLES) {
        page += ".PP\n" + roff(example.what) + "\n.PP\n.RS\n.nf\n";
        for (const char* line : example.lines) {
            if (line != nullptr) page += roff(line) + "\n";
        }
        page += ".fi\n.RE\n";
    }
    page += ".SH SEE ALSO\n"
            ".BR setcap (8),\n"
            ".BR capabilities (7)\n"
            ".PP\n"
            "The package installs, besides the program and this page:\n"
            ".TP\n.I \\%/usr/share/doc/tev\\-upgrade/README.md\n"
            "a start, scripts, runs over many devices, rolling out to a site, many sites with "
            "Ansible, the Windows program\n"
            ".TP\n.I \\%/usr/share/doc/tev\\-upgrade/docs/\n"
            "the pages README links: the console's dialogs question by question (console.md), "
            "scripts and their events, runs over many devices, the support log and the failures "
            "met most often, the Ansible role, the Windows program's list window\n"
            ".TP\n.I \\%/usr/share/doc/tev\\-upgrade/copyright\n"
            "the program's copyright, and the notices of what is built into it\n"
            ".TP\n.I \\%/usr/share/bash\\-completion/completions/tev\\-upgrade\n"
            "the completion for bash: the options, and file names after those that take a file\n"
            ".PP\n"
            "Installed from a build (\\fB./run install\\fR), the same files lie below /usr/local "
            "instead of /usr.\n";
    return page;
}
