// The option table and the parser that reads it: every row in both getopt_long spellings, the end
// of the options, starts of names, the errors a script meets, and the help texts from the table.
#include <gtest/gtest.h>

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
        // --yes needs --device, --quiet needs --yes; an address is a value every option takes.
        const char* value = "10.1.0.5";
        if (row.value_name != nullptr) {
            std::string joined = name + "=" + value;
            for (const CommandLine& line : {parse({name.c_str(), value, "--device", "10.0.0.1"}),
                                            parse({"--device=10.0.0.1", joined.c_str()})}) {
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

TEST(OptionTable, MistakesAreUsageErrorsThatSayWhatWasWrong) {
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"--lo", "x"}, "option '--lo' is ambiguous"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--device", "10.0.0.2", "--yes=1"}, "--yes takes no value"},
        {{"--device"}, "--device needs an IPv4 address"},
        {{"--events="}, "--events needs a file name"},
        {{"--device", "10.0.0.256"}, "--device '10.0.0.256' is not an IPv4 address"},
        {{"--device", "0.0.0.0"}, "--device '0.0.0.0' is not an IPv4 address"},
        {{"--local", "here"}, "--local 'here' is not an IPv4 address"},
        {{"--yes"}, "--yes needs --device: nobody is asked for the address"},
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

TEST(OptionTable, TheWindowsProgramTakesOnlyTheRowsWithASwitch) {
    EXPECT_STREQ(parse({"--device", "10.0.0.2"}, OptionStyle::WINDOWS).problem,
                 "unknown option '--device'");
    EXPECT_EQ(parse({"/HELP"}, OptionStyle::WINDOWS).action, CommandAction::HELP);
    EXPECT_EQ(parse({"/help"}).action, CommandAction::BAD_USAGE);
    std::string windows = usage_text(OptionStyle::WINDOWS);
    std::string linux_help = usage_text(OptionStyle::LINUX);
    EXPECT_EQ(windows.rfind("Usage: tev-upgrade.exe [/log FILE]\r\n", 0), 0u) << windows;
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

}  // namespace
