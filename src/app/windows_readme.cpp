// README.txt of the Windows zip: running the program, its switches, its exit statuses and the
// list window, in plain text with CR LF line ends.
#include "app/windows_readme.h"

#include <cstring>

#include "app/command_line.h"
#include "program_version.h"

namespace {

constexpr std::size_t WIDTH = 76;
constexpr const char* CRLF = "\r\n";

// A part's title, underlined; each part before it ends in an empty line.
void heading(std::string* text, const char* title) {
    text->append(title).append(CRLF);
    text->append(std::strlen(title), '-').append(CRLF);
}

void paragraph(std::string* text, const char* words) {
    append_wrapped(text, words, 0, WIDTH, CRLF);
    text->append(CRLF);
}

void command(std::string* text, const char* line) { text->append("    ").append(line).append(CRLF); }

// "/passwordfile, /password-file FILE": every switch of the row, then its value.
std::string switches(const OptionRow& row) {
    std::string names;
    const char* name = row.windows_switch;
    for (;;) {
        std::size_t length = std::strcspn(name, "|");
        if (!names.empty()) names += ", ";
        names.append("/").append(name, length);
        if (name[length] == 0) break;
        name += length + 1;
    }
    if (row.value_name != nullptr) names.append(" ").append(row.value_name);
    return names;
}

}  // namespace

std::string windows_readme_text() {
    std::string text = "TEV firmware upgrader " TEV_PROGRAM_VERSION " for Windows";
    text.append(CRLF).append(text.size(), '=').append(CRLF).append(CRLF);
    paragraph(&text,
              "tev-upgrade.exe installs the firmware image it carries onto a TEV VoIP adapter or "
              "handset on the local network: it reads the device's status page over HTTP (with "
              "its password), asks for confirmation, has the device fetch the image from this "
              "computer over TFTP, and checks the version the device then reports. It needs no "
              "installation and no administrator: copy it anywhere and start it.");

    heading(&text, "Running it");
    paragraph(&text,
              "Start tev-upgrade.exe, read the warning, type the device's address, pick this "
              "computer's address that faces the device, give the device's user and password when "
              "it asks, and confirm. The device fetches the image from this computer on UDP port "
              "69: the Windows firewall must let the device's requests in.");
    paragraph(&text,
              "For a script or a scheduled job the switches answer the dialogs; with /yes nothing "
              "is asked and nothing waits. The password comes from a file's first line (or the "
              "environment variable TEV_PASSWORD), never from the command line:");
    command(&text,
            "start /wait tev-upgrade.exe /device 192.168.0.20 /user admin "
            "/passwordfile C:\\prov\\pw.txt /yes");
    command(&text, "echo %ERRORLEVEL%");
    text.append(CRLF);
    paragraph(&text,
              "For support, start it with a log, which records every step (never the password): "
              "tev-upgrade.exe /log C:\\Temp\\tev-upgrade.log");

    heading(&text, "Switches");
    paragraph(&text,
              "Each switch may also be written with two dashes (--device), and in any letter "
              "case. A value follows the switch as the next word.");
    for (const OptionRow& row : option_table()) {
        if (row.windows_switch == nullptr) continue;
        text.append(switches(row)).append(CRLF);
        // The help row's "this text" is the usage box here.
        const char* help = row.action == CommandAction::HELP ? "show the switches in a box" : row.help;
        append_wrapped(&text, help, 4, WIDTH, CRLF);
    }
    text.append(CRLF);

    heading(&text, "Exit status");
    for (const char* line : EXIT_STATUS_LINES) {
        // "0  text": the status, then its text wrapped beside it.
        std::string wrapped;
        append_wrapped(&wrapped, line + 3, 4, WIDTH, CRLF);
        text.append(line, 1).append(wrapped, 1, std::string::npos);
    }
    text.append(CRLF);

    heading(&text, "Many devices: the list window");
    paragraph(&text,
              "tev-upgrade.exe /devices site.txt (or /device given more than once, or a devices "
              "file dropped on the program's icon) opens one window with a row per device. The "
              "devices file holds one address a line; text after the address is the device's "
              "label, and a line starting with # is a comment.");
    paragraph(&text,
              "The window first checks every device, changing nothing (the password dialog comes "
              "once). \"Upgrade N Devices\" then shows the warning once and upgrades those that "
              "need it; \"Stop\" cancels the running ones and starts no other. At the end \"Run "
              "Failed Again\", \"Save Report...\" (CSV or JSON) and \"Close\", which ends with the "
              "statuses above. Unlike the console program the window needs no /yes for "
              "several devices; with /yes it does all of it by itself and closes.");
    command(&text,
            "start /wait tev-upgrade.exe /devices C:\\prov\\site.txt /user admin "
            "/passwordfile C:\\prov\\pw.txt /yes /skipcurrent /report C:\\prov\\site.csv");
    text.append(CRLF);

    heading(&text, "Checking the download");
    paragraph(&text,
              "SHA256SUMS holds the SHA-256 of tev-upgrade.exe and of this file. Compare with:");
    command(&text, "certutil -hashfile tev-upgrade.exe SHA256");
    return text;
}
