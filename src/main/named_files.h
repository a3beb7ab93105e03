// The files the command line names: the password, devices, events, log and report files. Each one
// that cannot be read or created gives one line that names it and gives the system's reason, and
// the run then ends with EXIT_USAGE before its first dialog: nothing is sent to any device.
#pragma once
#include <cstdio>
#include <string>

// "can't read the devices file site.txt: Is a directory"; verb is "read" or "create", what says
// which file ("the password file").
std::string file_problem(const char* verb, const char* what, const char* path, const char* reason);

// The whole file; false with *problem when it cannot be opened or read (a folder cannot).
bool read_named_file(const char* what, const char* path, std::string* text, std::string* problem);

// The first line of the file ("-": standard input), without its CR LF or LF.
bool read_password_file(const char* path, std::string* password, std::string* problem);

// The file created anew with fopen's mode; nullptr with *problem when it cannot be.
std::FILE* create_named_file(const char* what, const char* path, const char* mode,
                             std::string* problem);
