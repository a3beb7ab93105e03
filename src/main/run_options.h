// What the options hand the run besides the command line itself, for both program entries: the
// answers (the password read from its file or TEV_PASSWORD) and the events file. Each entry
// reports a problem its own way: the console on standard error, the Windows program in a box.
#pragma once
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "ui/scripted_answers.h"

// The answers the options give; false with *problem ("can't read FILE: reason") when the password
// file cannot be read.
bool answers_from_options(const CommandLine& line, ScriptedAnswerSet* answers,
                          std::string* problem);
// The password: the first line of --password-file, else TEV_PASSWORD when set; false with
// *problem when the file cannot be read.
bool password_from_options(const CommandLine& line, bool* has_password, std::string* password,
                           std::string* problem);
// The images of --image taken for the run (run_images_add_file), each checked as the program's
// own is at start-up; false with *problem ("can't read the image file h.bin: ...", "the image file
// h.bin: shorter than its 128-byte header") at the first that cannot be used.
bool images_from_options(const CommandLine& line, std::string* problem);
// The events file created anew ("-": standard output); nullptr with *problem when it cannot be.
std::FILE* open_events_file(const char* path, std::string* problem);
// The support log (--log) opened before the first dialog; false with *problem ("can't create the
// log file FILE: reason") when it cannot be created.
bool open_support_log(const char* path, std::string* problem);
