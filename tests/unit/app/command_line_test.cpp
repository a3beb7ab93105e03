// The option table and the parser that reads it: every row in both getopt_long spellings, the end
// of the options, starts of names, the errors a script meets, and the help texts from the table.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

CommandLine parse(std::vector<const char*> arguments, OptionStyle style = OptionStyle::LINUX) {
    return parse_command_line(static_cast<int>(arguments.size()), arguments.data(), style);
}

TEST(OptionTable, EveryRowSetsItsFieldInBothSpellings) {
    std::set<std::string> names;
    for (const OptionRow& row : option_table()) {
        SCOPED_TRACE(row.long_name);
        EXPECT_TRUE(names.insert(row.long_name).second) << "a long name twice";
        EXPECT_NE(std::strlen(row.help), 0u);
        std::string name = std::string("--") + row.long_name;
        if (row.action != CommandAction::UPGRADE) {
            EXPECT_EQ(parse({name.c_str()}).action, row.action);
            continue;
        }
        // --yes needs --device, --quiet needs --yes; an address is a value every option takes
        // but --deadline, which takes seconds.
        const char* value = row.text == &CommandLine::deadline ? "45" : "10.1.0.5";
        if (row.value_name != nullptr) {
            std::string joined = name + "=" + value;
            // --yes: several devices (--devices) run unattended.
            // --scan finds its own devices; --write-devices needs --scan.
            bool scan = row.text == &CommandLine::scan;
            const char* device = scan ? "--yes" : "--device=10.0.0.1";
            if (row.text == &CommandLine::write_devices) device = "--scan=10.0.0.0/24";
            for (const CommandLine& line :
                 {parse({name.c_str(), value, device, "--yes"}),
                  parse({device, joined.c_str(), "--yes"})}) {
                if (row.text == &CommandLine::device) continue;  // given twice here
                ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
                EXPECT_STREQ(line.*(row.text), value);
            }
        } else {
            CommandLine line = parse({"--device", "10.0.0.1", "--yes", name.c_str()});
            ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
            EXPECT_TRUE(line.*(row.flag));
        }
    }
    CommandLine device = parse({"--device", "10.1.0.5"});
    EXPECT_STREQ(device.device, "10.1.0.5");
    EXPECT_FALSE(device.yes);
    EXPECT_FALSE(device.quiet);
    EXPECT_EQ(device.password_file, nullptr);
}

// What each option sets, written here rather than read from the table, so that a row wired to
// another field fails: each value option in both Linux spellings and as its Windows switch, each
// flag in both styles. Every case runs with --device and --yes (the flags need them).
struct FieldCase {
    const char* linux_name;      // "--log"
    const char* windows_switch;  // "/log"; nullptr: the Windows program does not take it
    const char* CommandLine::*text;
    bool CommandLine::*flag;
    const char* value;
};

constexpr const char* ADDRESS = "10.0.0.1";

const FieldCase FIELD_CASES[] = {
    {"--local", "/local", &CommandLine::local, nullptr, "10.7.0.2"},
    {"--user", "/user", &CommandLine::user, nullptr, "admin"},
    {"--password-file", "/passwordfile", &CommandLine::password_file, nullptr, "pw.txt"},
    {"--password-file", "/password-file", &CommandLine::password_file, nullptr, "pw.txt"},
    {"--events", "/events", &CommandLine::events_path, nullptr, "events.jsonl"},
    {"--log", "/log", &CommandLine::log_path, nullptr, "run.log"},
    {"--devices", "/devices", &CommandLine::devices_path, nullptr, "list.txt"},
    {"--jobs", "/jobs", &CommandLine::jobs, nullptr, "4"},
    {"--log-dir", nullptr, &CommandLine::log_dir, nullptr, "logs"},
    {"--deadline", nullptr, &CommandLine::deadline, nullptr, "90"},
    {"--yes", "/yes", nullptr, &CommandLine::yes, nullptr},
    {"--quiet", nullptr, nullptr, &CommandLine::quiet, nullptr},
    {"--image", "/image", &CommandLine::image, nullptr, "handset.bin"},
    {"--any-model", "/anymodel", nullptr, &CommandLine::any_model, nullptr},
};

const char* const CommandLine::*const TEXT_FIELDS[] = {
    &CommandLine::log_path, &CommandLine::local,        &CommandLine::user,
    &CommandLine::password_file, &CommandLine::events_path, &CommandLine::devices_path,
    &CommandLine::jobs,     &CommandLine::log_dir,      &CommandLine::deadline,
    &CommandLine::image,
};

// Only the case's field holds its value (or is set), and --device still holds the address.
void expect_only_its_field(const CommandLine& line, const FieldCase& c) {
    ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
    EXPECT_STREQ(line.device, ADDRESS);
    for (const char* const CommandLine::*field : TEXT_FIELDS) {
        if (field == c.text) {
            EXPECT_STREQ(line.*field, c.value);
        } else {
            EXPECT_EQ(line.*field, nullptr) << line.*field;
        }
    }
    EXPECT_TRUE(line.yes);
    EXPECT_EQ(line.quiet, c.flag == &CommandLine::quiet);
}

// The case's option (NAME VALUE, or NAME alone for a flag) after --device and --yes, in a style.
CommandLine parse_case(const FieldCase& c, const char* name, OptionStyle style) {
    bool windows = style == OptionStyle::WINDOWS;
    std::vector<const char*> arguments = {windows ? "/device" : "--device", ADDRESS};
    if (c.flag != &CommandLine::yes) arguments.push_back(windows ? "/yes" : "--yes");
    arguments.push_back(name);
    if (c.value != nullptr) arguments.push_back(c.value);
    return parse(arguments, style);
}

TEST(OptionTable, EachOptionSetsTheFieldWrittenHereInEverySpelling) {
    for (const FieldCase& c : FIELD_CASES) {
        SCOPED_TRACE(c.linux_name);
        expect_only_its_field(parse_case(c, c.linux_name, OptionStyle::LINUX), c);
        if (c.value != nullptr) {
            std::string joined = std::string(c.linux_name) + "=" + c.value;
            expect_only_its_field(parse({joined.c_str(), "--device", ADDRESS, "--yes"}), c);
        }
        if (c.windows_switch == nullptr) continue;
        SCOPED_TRACE(c.windows_switch);
        expect_only_its_field(parse_case(c, c.windows_switch, OptionStyle::WINDOWS), c);
    }
}

TEST(OptionTable, ShortNamesStartsOfNamesAndTheEndOfTheOptions) {
    CommandLine line = parse({"-q", "--device", "10.0.0.2", "--ev=-", "--password-f", "-", "--ye"});
    ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
    EXPECT_TRUE(line.quiet);
    EXPECT_TRUE(line.yes);
    EXPECT_STREQ(line.device, "10.0.0.2");
    EXPECT_STREQ(line.events_path, "-");
    EXPECT_STREQ(line.password_file, "-");
    EXPECT_EQ(parse({"-h"}).action, CommandAction::HELP);
    // "--" ends the options: what follows is no option, and the program takes no other arguments.
    EXPECT_EQ(parse({"--device", "10.0.0.2", "--"}).action, CommandAction::UPGRADE);
    EXPECT_STREQ(parse({"--", "--help"}).problem, "unknown option '--help'");
    // A value that looks like an option is still the value.
    EXPECT_STREQ(parse({"--user", "--yes"}).user, "--yes");
}

// --image may be given again, each file kept in order; --version keeps them, wherever they stand,
// to list their images, and looks at nothing else.
TEST(OptionTable, ImagesAreKeptInOrderAndForTheVersion) {
    CommandLine line = parse({"--image", "a.bin", "--device", "10.0.0.2", "--image=b c.bin"});
    ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
    ASSERT_EQ(line.image_count, 2);
    EXPECT_STREQ(line.images[0], "a.bin");
    EXPECT_STREQ(line.images[1], "b c.bin");
    CommandLine version = parse({"--image", "a.bin", "--version", "--colour", "--image", "b.bin",
                                 "--device", "--", "--image", "c.bin"});
    ASSERT_EQ(version.action, CommandAction::VERSION);
    ASSERT_EQ(version.image_count, 2);
    EXPECT_STREQ(version.images[1], "b.bin");
    CommandLine windows = parse({"/VERSION", "/Image", "h.bin"}, OptionStyle::WINDOWS);
    ASSERT_EQ(windows.action, CommandAction::VERSION);
    ASSERT_EQ(windows.image_count, 1);
    EXPECT_STREQ(windows.images[0], "h.bin");
    std::vector<const char*> nine;
    for (int i = 0; i < 9; ++i) nine.insert(nine.end(), {"--image", "x.bin"});
    EXPECT_STREQ(parse(nine).problem, "more than 8 --image options");
}

TEST(OptionTable, MistakesAreUsageErrorsThatSayWhatWasWrong) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"--lo", "x"}, "option '--lo' is ambiguous; possibilities: '--local' '--log' '--log-dir'"},
        {{"--dev=10.0.0.2"}, "option '--dev' is ambiguous; possibilities: '--device' '--devices'"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--device", "10.0.0.2", "--yes=1"}, "--yes takes no value"},
        {{"--device"}, "--device needs an IPv4 address"},
        {{"--events="}, "--events needs a file name"},
        {{"--device", "10.0.0.256"}, "--device '10.0.0.256' is not an IPv4 address"},
        {{"--device", "0.0.0.0"}, "--device '0.0.0.0' is not an IPv4 address"},
        {{"--local", "here"}, "--local 'here' is not an IPv4 address"},
        {{"--yes"}, "--yes needs --device or --devices: nobody is asked for the address"},
        {{"--device", "10.0.0.2", "-q"}, "--quiet needs --yes: the questions would not be shown"},
        {{"--events", "a", "--events", "b"}, "--events given twice"},
        // Never a password on the command line, not even as a start of --password-file.
        {{"--password", "secret"},
         "unknown option '--password': the password comes from --password-file FILE or "
         "TEV_PASSWORD, never from the command line"},
        {{"--password=secret"},
         "unknown option '--password': the password comes from --password-file FILE or "
         "TEV_PASSWORD, never from the command line"},
    };
    for (const auto& [arguments, problem] : cases) {
        CommandLine line = parse(arguments);
        EXPECT_EQ(line.action, CommandAction::BAD_USAGE) << problem;
        EXPECT_STREQ(line.problem, problem);
    }
}

// An unattended run's usage error must not wait: --yes or /yes anywhere, before "--".
TEST(OptionTable, YesIsFoundAnywhereAmongTheArguments) {
    const struct {
        std::vector<const char*> arguments;
        OptionStyle style;
        bool yes;
    } cases[] = {
        {{"/devices", "f.txt", "/passwordfile", "pw", "/yes"}, OptionStyle::WINDOWS, true},
        {{"/YES", "/verbose"}, OptionStyle::WINDOWS, true},
        {{"--Yes"}, OptionStyle::WINDOWS, true},
        {{"/yesterday", "/y"}, OptionStyle::WINDOWS, false},
        {{"/verbose", "--", "/yes"}, OptionStyle::WINDOWS, false},
        {{"--colour", "--yes"}, OptionStyle::LINUX, true},
        {{"/yes", "--YES"}, OptionStyle::LINUX, false},
        {{}, OptionStyle::LINUX, false},
    };
    for (const auto& one : cases) {
        EXPECT_EQ(yes_among_arguments(static_cast<int>(one.arguments.size()), one.arguments.data(),
                                      one.style),
                  one.yes)
            << (one.arguments.empty() ? "" : one.arguments.front());
    }
}

TEST(OptionTable, TheWindowsProgramTakesOnlyTheRowsWithASwitch) {
    EXPECT_STREQ(parse({"--quiet"}, OptionStyle::WINDOWS).problem, "unknown option '--quiet'");
    EXPECT_STREQ(parse({"-q"}, OptionStyle::WINDOWS).problem, "unknown option '-q'");
    EXPECT_EQ(parse({"/HELP"}, OptionStyle::WINDOWS).action, CommandAction::HELP);
    EXPECT_EQ(parse({"/help"}).action, CommandAction::BAD_USAGE);
    std::string windows = usage_text(OptionStyle::WINDOWS);
    std::string linux_help = usage_text(OptionStyle::LINUX);
    EXPECT_EQ(windows.rfind("Usage: tev-upgrade.exe [/device A.B.C.D] ...\r\n\r\n", 0), 0u)
        << windows;
    EXPECT_NE(windows.find("Exit status: 0"), std::string::npos);
    // Lines a message box need not wrap again, few enough for a screen.
    std::size_t lines = 0;
    for (std::size_t start = 0, end; start < windows.size(); start = end + 2, ++lines) {
        end = windows.find("\r\n", start);
        if (end == std::string::npos) end = windows.size();
        EXPECT_LE(end - start, 50u) << windows.substr(start, end - start);
    }
    EXPECT_LE(lines, 44u) << windows;
    for (const OptionRow& row : option_table()) {
        SCOPED_TRACE(row.long_name);
        std::string long_name = std::string("--") + row.long_name;
        EXPECT_NE(linux_help.find(" " + long_name), std::string::npos);
        std::string first_word(row.help, std::strcspn(row.help, " "));
        EXPECT_NE(linux_help.find("        " + first_word), std::string::npos);
        if (row.windows_switch == nullptr) {
            EXPECT_EQ(windows.find(long_name), std::string::npos);
        } else {
            std::string first(row.windows_switch, std::strcspn(row.windows_switch, "|"));
            EXPECT_NE(windows.find("\r\n/" + first), std::string::npos);
        }
    }
    EXPECT_EQ(windows.find("\n\n"), std::string::npos);  // Windows line breaks only
}

// The names of a switch: "a|b" gives a and b.
std::vector<std::string> switches_of(const OptionRow& row) {
    std::vector<std::string> names;
    for (const char* name = row.windows_switch;; ++name) {
        std::size_t length = std::strcspn(name, "|");
        names.emplace_back(name, length);
        name += length;
        if (*name == 0) return names;
    }
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "/" and the name; from a reference, since GCC 12 warns falsely (-Wrestrict) about "/" + a
// temporary string.
std::string as_switch(const std::string& name) { return "/" + name; }

std::string capitalised(std::string text) {
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

// Every row with a switch, in every Windows spelling: each switch and the long name, in lower,
// upper and mixed letter case, the long name also with its value after '='.
TEST(OptionTable, TheWindowsProgramTakesEverySpellingInAnyLetterCase) {
    int rows = 0;
    for (const OptionRow& row : option_table()) {
        if (row.windows_switch == nullptr || row.action != CommandAction::UPGRADE) continue;
        ++rows;
        std::vector<std::string> spellings;
        for (const std::string& name : switches_of(row)) {
            spellings.push_back(as_switch(name));
            spellings.push_back(as_switch(upper(name)));
            spellings.push_back(as_switch(capitalised(name)));
        }
        std::string long_name = std::string("--") + row.long_name;
        spellings.push_back(long_name);
        spellings.push_back(upper(long_name));
        spellings.push_back("--" + capitalised(row.long_name));
        // Any text where the parser takes one; a number of seconds where it checks it.
        bool seconds = row.value_name != nullptr && std::strcmp(row.value_name, "SECONDS") == 0;
        const char* value = seconds ? "15" : "10.1.0.5";
        for (const std::string& spelling : spellings) {
            SCOPED_TRACE(spelling);
            std::vector<const char*> arguments = {spelling.c_str()};
            if (row.value_name != nullptr) arguments.push_back(value);
            if (row.text == &CommandLine::scan) {
                arguments.push_back("/Yes");  // a scan finds its own devices
            } else if (row.text != &CommandLine::device) {
                // One at a time: GCC 12 warns falsely (-Warray-bounds) about inserting a list.
                for (const char* more : {"/DEVICE", "10.0.0.1", "/Yes"}) arguments.push_back(more);
            }
            CommandLine line = parse(arguments, OptionStyle::WINDOWS);
            ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
            if (row.value_name != nullptr) {
                EXPECT_STREQ(line.*(row.text), value);
            } else {
                EXPECT_TRUE(line.*(row.flag));
            }
            // The Linux program knows no switch, and its long names only in lower case.
            if (spelling != long_name) {
                std::string problem = parse({spelling.c_str(), value}).problem;
                EXPECT_EQ(problem, "unknown option '" + spelling + "'");
            }
        }
        if (row.value_name != nullptr) {
            std::string joined = upper(long_name) + "=" + value;
            std::vector<const char*> arguments = {joined.c_str()};
            if (row.text == &CommandLine::scan) {
                arguments.push_back("/Yes");
            } else if (row.text != &CommandLine::device) {
                arguments.insert(arguments.end(), {"/DEVICE", "10.0.0.1", "/Yes"});
            }
            EXPECT_STREQ(parse(arguments, OptionStyle::WINDOWS).*(row.text), value);
        }
    }
    // device, local, user, password file, yes, events, log; devices, jobs, deadline, check, skip
    // current, report, image, any model, canary, max failures, scan, retries, retry wait
    EXPECT_EQ(rows, 20);
    // Never a password on the command line, in the Windows spelling either; a value after ':' or
    // '=' is not echoed.
    for (const char* argument : {"/Password", "/PASSWORD:secret", "--Password=secret"}) {
        std::string name(argument, std::strcspn(argument, ":="));
        EXPECT_EQ(std::string(parse({argument}, OptionStyle::WINDOWS).problem),
                  "unknown option '" + name +
                      "': the password comes from --password-file FILE or TEV_PASSWORD, never "
                      "from the command line");
    }
    EXPECT_STREQ(parse({"/yes"}, OptionStyle::WINDOWS).problem,
                 "--yes needs --device: nobody is asked for the address");
}

TEST(FleetDevices, RepeatedDeviceOptionKeepsEveryAddress) {
    std::vector<const char*> arguments{"--device", "10.0.0.1", "--device=10.0.0.2", "--yes"};
    CommandLine line = parse_command_line(4, arguments.data(), OptionStyle::LINUX);
    ASSERT_EQ(line.action, CommandAction::UPGRADE) << line.problem;
    ASSERT_EQ(line.device_count, 2);
    EXPECT_STREQ(line.devices[1], "10.0.0.2");
    EXPECT_STREQ(line.device, "10.0.0.1");
    std::vector<const char*> bad{"--device", "10.0.0.1", "--device", "10.0.0.x"};
    EXPECT_EQ(parse_command_line(4, bad.data(), OptionStyle::LINUX).action, CommandAction::BAD_USAGE);
    // Several devices run unattended: --yes, or a --check that changes nothing.
    std::vector<const char*> unanswered{"--devices", "site.txt", "--check"};
    EXPECT_EQ(parse_command_line(3, unanswered.data(), OptionStyle::LINUX).action,
              CommandAction::UPGRADE);
    EXPECT_STREQ(parse_command_line(2, unanswered.data(), OptionStyle::LINUX).problem,
                 "several devices need --yes: each upgrade runs without asking");
    // The Windows list window asks its person before it upgrades.
    std::vector<const char*> window{"/devices", "site.txt"};
    EXPECT_EQ(parse_command_line(2, window.data(), OptionStyle::WINDOWS).action,
              CommandAction::UPGRADE);
    EXPECT_STREQ(parse_command_line(4, bad.data() , OptionStyle::LINUX).problem,
                 "--device '10.0.0.x' is not an IPv4 address");
    std::vector<const char*> two{"--device", "10.0.0.1", "--device", "10.0.0.2"};
    EXPECT_EQ(parse_command_line(4, two.data(), OptionStyle::LINUX).action, CommandAction::BAD_USAGE);
    // --dev starts both --device and --devices.
    std::vector<const char*> start{"--dev", "10.0.0.1"};
    EXPECT_STREQ(parse_command_line(2, start.data(), OptionStyle::LINUX).problem,
                 "option '--dev' is ambiguous; possibilities: '--device' '--devices'");
}

TEST(CommandLineOptions, TheLogAndTheQuestionsAreTakenInEitherStyle) {
    for (OptionStyle style : {OptionStyle::LINUX, OptionStyle::WINDOWS}) {
        CommandLine none = parse({}, style);
        EXPECT_EQ(none.action, CommandAction::UPGRADE);
        EXPECT_EQ(none.log_path, nullptr);
        EXPECT_STREQ(parse({"--log", "up.log"}, style).log_path, "up.log");
        EXPECT_STREQ(parse({"--log=C:\\a b\\up.log"}, style).log_path, "C:\\a b\\up.log");
        // A file name that looks like an option is still the file's name.
        EXPECT_STREQ(parse({"--log", "--help"}, style).log_path, "--help");
        EXPECT_EQ(parse({"--log", "up.log", "--help"}, style).action, CommandAction::HELP);
        EXPECT_EQ(parse({"--version"}, style).action, CommandAction::VERSION);
    }
    EXPECT_STREQ(parse({"/log", "C:\\up.log"}, OptionStyle::WINDOWS).log_path, "C:\\up.log");
    EXPECT_STREQ(parse({"/LOG", "C:\\up.log"}, OptionStyle::WINDOWS).log_path, "C:\\up.log");
    EXPECT_EQ(parse({"/?"}, OptionStyle::WINDOWS).action, CommandAction::HELP);
    EXPECT_EQ(parse({"/Version"}, OptionStyle::WINDOWS).action, CommandAction::VERSION);
}

TEST(CommandLineOptions, WrongUseSaysWhatWasWrong) {
    struct Case {
        std::vector<const char*> arguments;
        OptionStyle style;
        const char* problem;
    };
    const Case cases[] = {
        {{"/log", "up.log"}, OptionStyle::LINUX, "unknown option '/log'"},
        {{"/verbose"}, OptionStyle::WINDOWS, "unknown option '/verbose'"},
        {{"/logs", "up.log"}, OptionStyle::WINDOWS, "unknown option '/logs'"},
        {{"/log"}, OptionStyle::WINDOWS, "/log needs a file name"},
        {{"--log="}, OptionStyle::LINUX, "--log needs a file name"},
        {{"--log", "a", "/log", "b"}, OptionStyle::WINDOWS, "--log given twice"},
        {{"--log", "up.log", "extra"}, OptionStyle::LINUX, "unknown option 'extra'"},
    };
    for (const Case& c : cases) {
        CommandLine line = parse(c.arguments, c.style);
        EXPECT_EQ(line.action, CommandAction::BAD_USAGE) << c.problem;
        EXPECT_STREQ(line.problem, c.problem);
        EXPECT_EQ(line.log_path, nullptr) << c.problem;
    }
    // An overlong argument is cut, never overruns the message.
    std::string long_argument(1000, 'x');
    CommandLine line = parse({long_argument.c_str()});
    EXPECT_EQ(line.action, CommandAction::BAD_USAGE);
    EXPECT_LT(std::strlen(line.problem), COMMAND_PROBLEM_SIZE);
}

// The command line's own rules for several devices.
TEST(FleetPlan, SeveralDevicesRunUnattendedOrOnlyRead) {
    std::vector<const char*> unanswered{"--devices", "site.txt", "--yes"};
    EXPECT_EQ(parse_command_line(2, unanswered.data(), OptionStyle::LINUX).action,
              CommandAction::BAD_USAGE);
    EXPECT_EQ(parse_command_line(3, unanswered.data(), OptionStyle::LINUX).action,
              CommandAction::UPGRADE);
    // The list window asks its person itself.
    std::vector<const char*> window{"/devices", "site.txt"};
    EXPECT_EQ(parse_command_line(2, window.data(), OptionStyle::WINDOWS).action,
              CommandAction::UPGRADE);
}

}  // namespace
