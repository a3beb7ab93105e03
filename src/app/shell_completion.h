// The completion of tev-upgrade for bash, written from the option table, so that it completes
// exactly the options the program takes.
#pragma once
#include <string>

// A bash script for bash-completion's folder (or for `source`): it completes the options, and
// after an option that takes a FILE the names of files, after one that takes a DIR folders.
std::string bash_completion_text();
