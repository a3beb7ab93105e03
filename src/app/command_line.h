// The program's options, kept in one table: each row is an option's long name, its Windows switch,
// whether it takes a value, its help line and the field it sets. The parser for both spellings, the
// help text, the Windows usage box and the tests all read that table; adding an option is adding a
// row. With no option given the upgrade runs as it always has, every dialog asking the person.
#pragma once
#include <cstddef>
#include <span>
#include <string>

enum class CommandAction { UPGRADE, HELP, VERSION, BAD_USAGE };

// Which spellings the command line takes: the Linux program the long options as getopt_long reads
// them; the Windows program those of the rows with a switch, and the switches (/device, /log, /?,
// ...), both in any letter case.
enum class OptionStyle { LINUX, WINDOWS };

constexpr std::size_t COMMAND_PROBLEM_SIZE = 256;
// --device may be repeated up to this many times (more devices: --devices FILE).
constexpr int COMMAND_MAX_DEVICES = 256;
// --image may be repeated up to this many times: more than the products there are.
constexpr int COMMAND_MAX_IMAGES = 8;

struct CommandLine {
    CommandAction action;
    // Each one of the arguments, or nullptr when its option was not given.
    const char* log_path;
    const char* device;         // the device's address, for the address dialog
    const char* local;          // this computer's address to use
    const char* user;           // the user name for the password dialog
    const char* password_file;  // a file whose first line is the password; "-": standard input
    const char* events_path;    // JSON lines of the run's events; "-": standard output
    const char* devices_path;   // several devices: a file of addresses, one a line
    const char* jobs;           // several devices: at most this many upgrades at a time
    const char* log_dir;        // several devices: each one's log in this folder
    const char* deadline;       // several devices: seconds one upgrade may take
    const char* report;         // a report of every device's outcome, .csv or .json
    const char* canary;         // several devices: the first N run first, the rest if all end well
    const char* max_failures;   // several devices: no device starts once N have failed
    const char* scan;           // several devices: every address of a range, read as --check
    const char* write_devices;  // a scan: a devices file of the TEVs it found
    const char* retries;        // several devices: attempts after a failure another may mend
    const char* retry_wait;     // several devices: seconds before the first retry
    // Every --device in order (device is the first); more than one upgrades several devices.
    const char* devices[COMMAND_MAX_DEVICES];
    int device_count;
    const char* image;  // the first --image
    // Every --image in order: images for other products than the program's own.
    const char* images[COMMAND_MAX_IMAGES];
    int image_count;
    bool yes;    // answers the warning and the confirmation: the run asks nothing
    bool quiet;  // only errors and the final result line
    bool check;  // read each device's status page and change nothing
    bool skip_current;  // a device already at the image's version gets no upgrade
    bool any_model;     // a device of a model no image is for gets the program's own image
    bool scan_probe;    // a scan's child: one short connection attempt (SCAN_PROBE_ARGUMENT)
    char problem[COMMAND_PROBLEM_SIZE];  // for BAD_USAGE: what was wrong, in one line
};

// What a scan gives each child: not an option for people, so it is in no table or help.
constexpr const char* SCAN_PROBE_ARGUMENT = "--scan-probe";

struct OptionRow {
    const char* long_name;       // without the leading "--"
    char short_name;             // 0: none
    const char* windows_switch;  // without the "/"; alternatives separated by '|'; nullptr: none
    const char* value_name;      // the value's name in the help; nullptr: takes no value
    const char* help;
    const char* CommandLine::*text;  // the field a value option sets
    bool CommandLine::*flag;         // the field a flag sets
    CommandAction action;            // HELP or VERSION for those two; UPGRADE otherwise
};

std::span<const OptionRow> option_table();

// Reads the arguments after the program's name. Options take their value as the next argument or
// after '='; a long name may be cut to any start that only it has; "--" ends the options. With
// --version only the --image options are kept: the version lists their images too.
CommandLine parse_command_line(int count, const char* const* arguments, OptionStyle style);

// Whether --yes (on Windows also /yes, in any letter case) stands anywhere among the arguments,
// even after one the parser refuses: an unattended run's usage error must not wait for a person.
bool yes_among_arguments(int count, const char* const* arguments, OptionStyle style);

// What the program does and its options, from the table.
std::string usage_text(OptionStyle style);
// The words of help wrapped to width, each line after an indent and ending in line_break (for
// the help, the usage box and the Windows README).
void append_wrapped(std::string* text, const char* help, std::size_t indent, std::size_t width,
                    const char* line_break);
// What each exit status means, one line each, for the help and the manual page.
extern const char* const EXIT_STATUS_LINES[4];
// The program's version, for each firmware image it carries its product and version, and those of
// the images from files the run took (run_image_files).
std::string version_text();

