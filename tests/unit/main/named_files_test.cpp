// The files the options name: each one that cannot be read or created gives the one line that
// names it and the system's reason; a folder is no file to read.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "main/named_files.h"
#include "main/run_options.h"

namespace {

TEST(NamedFiles, EachFileThatCannotBeUsedIsNamedWithTheSystemsReason) {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "tev-named-files";
    std::filesystem::create_directories(folder);
    std::string dir = folder.string();
    std::string missing = dir + "/no-such-folder/file";
    std::ofstream(dir + "/pw.txt") << "secret one\r\nsecond line\n";

    using Attempt = std::function<bool(std::string*)>;
    std::string text;
    const std::pair<Attempt, std::string> cases[] = {
        {[&](std::string* p) { return read_password_file(missing.c_str(), &text, p); },
         "can't read the password file " + missing + ": No such file or directory"},
        {[&](std::string* p) { return read_password_file(dir.c_str(), &text, p); },
         "can't read the password file " + dir + ": Is a directory"},
        {[&](std::string* p) { return read_named_file("the devices file", dir.c_str(), &text, p); },
         "can't read the devices file " + dir + ": Is a directory"},
        {[&](std::string* p) { return open_events_file(missing.c_str(), p) != nullptr; },
         "can't create the events file " + missing + ": No such file or directory"},
        {[&](std::string* p) { return open_support_log(dir.c_str(), p); },
         "can't create the log file " + dir + ": Is a directory"},
        {[&](std::string* p) {
             return create_named_file("the report file", missing.c_str(), "w", p) != nullptr;
         },
         "can't create the report file " + missing + ": No such file or directory"},
    };
    for (const auto& [attempt, said] : cases) {
        std::string problem;
        EXPECT_FALSE(attempt(&problem)) << said;
        EXPECT_EQ(problem, said);
    }
    // A file that can be read gives its first line, without the CR LF Notepad writes.
    std::string problem;
    ASSERT_TRUE(read_password_file((dir + "/pw.txt").c_str(), &text, &problem)) << problem;
    EXPECT_EQ(text, "secret one");
    std::filesystem::remove_all(folder);
}

}  // namespace
